#pragma once
// Shared by the COM tests: an apartment for the test program, late-bound
// calls by name, and expectations built without the code under test.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "automation/Variant.h"

namespace qel::test {

using Microsoft::WRL::ComPtr;
using automation::Variant;

// The outcome of one IDispatch::Invoke.
struct DispatchResult {
    HRESULT hr = S_OK;
    Variant value;
    SCODE scode = 0;
    std::wstring source;
    std::wstring description;
};

ComPtr<IDispatch> createByProgId(const wchar_t* programId);

// Arguments in the host's order; each is passed as the host passes it.
DispatchResult call(IDispatch* object, const wchar_t* member, WORD kind, const std::vector<VARIANT>& arguments = {});
DispatchResult get(IDispatch* object, const wchar_t* property);
DispatchResult put(IDispatch* object, const wchar_t* property, const VARIANT& value);

std::wstring textOf(const VARIANT& value);

// The error information a failed vtable call left on this thread.
struct RaisedError {
    std::wstring source;
    std::wstring description;
};
RaisedError takeErrorInfo();

// The current transform of an ASCII text, computed here from the pass phrase.
std::wstring expectedCurrentEncryption(const std::wstring& ascii);

} // namespace qel::test
