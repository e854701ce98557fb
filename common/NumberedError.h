#pragma once
// The run-time errors the components raise. The COM layer turns one into
// HRESULT 0x800A0000 + number with the standard description text.
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace qel {

enum class ErrorNumber : std::int32_t {
    InvalidArgument = 5,
    Overflow = 6,
    SubscriptOutOfRange = 9,
    TypeMismatch = 13,
    InvalidUseOfNull = 94,
    CannotCreateObject = 429,
};

// The platform's standard description for a numbered error.
std::string_view standardDescription(ErrorNumber number) noexcept;

class NumberedError : public std::runtime_error {
public:
    explicit NumberedError(ErrorNumber number);
    ErrorNumber number() const noexcept { return number_; }

private:
    ErrorNumber number_;
};

[[noreturn]] void raise(ErrorNumber number);

} // namespace qel
