#pragma once
// The thread's error information, the one place it is written: a failure
// leaving any object of these servers either describes itself here or
// clears what an earlier failure left, so a host never reads a stale one.
#include <windows.h>
#include <oaidl.h>

namespace qel::automation {

struct ErrorDescription {
    const wchar_t* source = nullptr;
    const wchar_t* description = nullptr;
    const GUID* interfaceId = nullptr;
    const wchar_t* helpFile = nullptr;
    DWORD helpContext = 0;
};

// Describes the failure `status` on this thread and returns `status`.
HRESULT describeFailure(HRESULT status, const ErrorDescription& error) noexcept;
// A failure with nothing to say: no description, not even an earlier one.
HRESULT failWithoutDescription(HRESULT status) noexcept;
// Puts back information taken with GetErrorInfo (null: none).
void restoreErrorInformation(IErrorInfo* info) noexcept;

} // namespace qel::automation
