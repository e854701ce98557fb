#pragma once
// IDispatch of CWinInetConnection from a static member table, since the class
// has no type library: names and parameter names are matched without regard
// to case, arguments are converted to the declared types (a by-reference
// argument of the declared type is passed through as the host's own), and a
// raised error becomes an EXCEPINFO.
#include <windows.h>
#include <oaidl.h>

#include <span>

#include "automation/Variant.h"
#include "connection/WinInetConnectionInterface.h"

namespace qel::connection {

struct ConnectionParameter {
    const wchar_t* name;
    VARTYPE type; // VT_I4, VT_BSTR or VT_BOOL
    bool optional;
    VARIANT_BOOL defaultValue; // only Boolean parameters are optional
};

struct ConnectionMember {
    const wchar_t* name;
    DISPID id;
    WORD kind; // DISPATCH_METHOD or DISPATCH_PROPERTYGET
    const wchar_t* helpString; // null for a member without one
    std::span<const ConnectionParameter> parameters;
    // Arguments in declared order, each VT_BYREF of its parameter's type.
    HRESULT (*call)(_CWinInetConnection& object, const VARIANT* arguments, automation::Variant& result);
};

std::span<const ConnectionMember> connectionMembers();

HRESULT connectionIdsOfNames(LPOLESTR* names, UINT count, DISPID* ids) noexcept;
HRESULT invokeConnectionMember(_CWinInetConnection& object, DISPID id, WORD flags, DISPPARAMS* parameters,
                               VARIANT* result, EXCEPINFO* exception, UINT* badArgument) noexcept;

} // namespace qel::connection
