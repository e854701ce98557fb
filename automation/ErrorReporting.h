#pragma once
// The one boundary between C++ exceptions and COM: every interface method
// runs its body through `guarded`, which turns whatever escapes into an
// HRESULT and, for errors of this library, the standard error information.
#include <windows.h>
#include <oaidl.h>

#include <exception>
#include <string>

#include "common/NumberedError.h"

namespace qel::automation {

// A failed HRESULT from a call into COM. `described`: the thrower has put
// the callee's own description on the thread; otherwise the boundary clears
// whatever is there, so the caller does not read an earlier failure's.
class ComFailure : public std::exception {
public:
    explicit ComFailure(HRESULT hr, bool described = false) : hr_(hr), described_(described) {}
    HRESULT result() const { return hr_; }
    bool described() const { return described_; }
    const char* what() const noexcept override { return "COM call failed"; }

private:
    HRESULT hr_;
    bool described_;
};

// `described`: the call reports its failures through the thread's error
// information (one of this library's own members does).
inline void check(HRESULT hr, bool described = false)
{
    if (FAILED(hr))
        throw ComFailure(hr, described);
}

// 0x800A0000 + n, the control-error status of a numbered error.
constexpr HRESULT resultOf(ErrorNumber number)
{
    return static_cast<HRESULT>(0x800A0000u + static_cast<unsigned>(number));
}

// The standard description of `number`, as COM carries text.
std::wstring wideDescription(ErrorNumber number);

// Sets the thread's error information and returns the status for `number`.
HRESULT raiseNumbered(ErrorNumber number, const wchar_t* source, REFGUID interfaceId);

// Maps the exception in flight; call only from a catch block.
HRESULT resultOfCurrentException(const wchar_t* source, REFGUID interfaceId) noexcept;

template <class Body>
HRESULT guarded(const wchar_t* source, REFGUID interfaceId, Body&& body) noexcept
{
    try {
        body();
        return S_OK;
    } catch (...) {
        return resultOfCurrentException(source, interfaceId);
    }
}

} // namespace qel::automation
