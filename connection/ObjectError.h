#pragma once
// A raised error with its own number, source and description, as the
// connection class raises them, and its delivery to a COM caller through the
// thread's error information.
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <exception>
#include <string>

namespace qel::connection {

class ObjectError : public std::exception {
public:
    // The source of errors that no operation names (the component's own).
    static constexpr const wchar_t* kComponentSource = L"QelMessage";

    // Who may wrap the error on its way out.
    enum class Passage { Wrapped, Unchanged };

    ObjectError(std::int32_t number, std::wstring source, std::wstring description,
                Passage passage = Passage::Wrapped)
        : number_(number), source_(std::move(source)), description_(std::move(description)), passage_(passage)
    {
    }

    std::int32_t number() const noexcept { return number_; }
    const std::wstring& source() const noexcept { return source_; }
    const std::wstring& description() const noexcept { return description_; }
    // An error composed from a platform failure, or one an inner guard already
    // wrapped: the operation guards let it through as it is.
    bool passesGuardsUnchanged() const noexcept { return passage_ == Passage::Unchanged; }
    const char* what() const noexcept override { return "object error"; }

private:
    std::int32_t number_;
    std::wstring source_;
    std::wstring description_;
    Passage passage_;
};

// The failure status a COM caller sees for an error number: a negative number
// is a status already; 1 to 65535 is a control error (0x800A0000 + n).
HRESULT statusOfErrorNumber(std::int32_t number) noexcept;

// Sets the thread's error information and returns the failure status.
HRESULT raiseObjectError(const ObjectError& error, REFGUID interfaceId) noexcept;

} // namespace qel::connection
