#include "common/NumberedError.h"

#include <string>

namespace qel {

std::string_view standardDescription(ErrorNumber number) noexcept
{
    switch (number) {
    case ErrorNumber::InvalidArgument: return "Invalid procedure call or argument";
    case ErrorNumber::Overflow: return "Overflow";
    case ErrorNumber::SubscriptOutOfRange: return "Subscript out of range";
    case ErrorNumber::TypeMismatch: return "Type mismatch";
    case ErrorNumber::InvalidUseOfNull: return "Invalid use of Null";
    case ErrorNumber::CannotCreateObject: return "ActiveX component can't create object";
    }
    return "Application-defined or object-defined error";
}

NumberedError::NumberedError(ErrorNumber number)
    : std::runtime_error(std::string(standardDescription(number))), number_(number)
{
}

void raise(ErrorNumber number)
{
    throw NumberedError(number);
}

} // namespace qel
