#include "connection/ConnectionMembers.h"

#include "automation/ErrorInformation.h"
#include "automation/VariantTerms.h"

#include <wrl/client.h>

#include <array>

namespace qel::connection {

namespace {

using automation::Variant;
using BooleanMember = HRESULT (STDMETHODCALLTYPE _CWinInetConnection::*)(VARIANT_BOOL*);

constexpr std::size_t kMostParameters = 4;

void setBoolean(Variant& result, VARIANT_BOOL value)
{
    VARIANT* out = result.receive();
    out->vt = VT_BOOL;
    out->boolVal = value;
}

void setText(Variant& result, BSTR text)
{
    VARIANT* out = result.receive();
    out->vt = VT_BSTR;
    out->bstrVal = text;
}

HRESULT booleanResult(HRESULT hr, VARIANT_BOOL value, Variant& result)
{
    if (SUCCEEDED(hr))
        setBoolean(result, value);
    return hr;
}

// A property getter, or an operation without arguments.
template <BooleanMember member>
HRESULT booleanMember(_CWinInetConnection& object, const VARIANT*, Variant& result)
{
    VARIANT_BOOL value = VARIANT_FALSE;
    const HRESULT hr = (object.*member)(&value);
    return booleanResult(hr, value, result);
}

constexpr ConnectionParameter kGoOnlineParameters[] = {
    {L"strURL", VT_BSTR, false, VARIANT_FALSE},
    {L"hwndParentWindow", VT_I4, false, VARIANT_FALSE},
};
constexpr ConnectionParameter kDialParameters[] = {
    {L"hwndParentWindow", VT_I4, false, VARIANT_FALSE},
    {L"strConnectionName", VT_BSTR, false, VARIANT_FALSE},
    {L"lOption", VT_I4, false, VARIANT_FALSE},
    {L"bShowOfflineButton", VT_BOOL, true, VARIANT_FALSE},
};
constexpr ConnectionParameter kAutodialParameters[] = {
    {L"hwndParentWindow", VT_I4, false, VARIANT_FALSE},
    {L"lOption", VT_I4, false, VARIANT_FALSE},
    {L"bFailIfSecurityCheck", VT_BOOL, true, VARIANT_TRUE},
};
constexpr ConnectionParameter kGetWinApiDescParameters[] = {
    {L"lErrNumber", VT_I4, false, VARIANT_FALSE},
};

const ConnectionMember kMembers[] = {
    {L"SetGlobalOnline", 0x60030008, DISPATCH_METHOD, L"Turns the local system to global online mode.", {},
     booleanMember<&_CWinInetConnection::SetGlobalOnline>},
    {L"SetGlobalOffline", 0x60030009, DISPATCH_METHOD, nullptr, {},
     booleanMember<&_CWinInetConnection::SetGlobalOffline>},
    {L"GoOnline", 0x6003000A, DISPATCH_METHOD, L"Prompts the user for permission to initiate connection to a URL.",
     kGoOnlineParameters,
     [](_CWinInetConnection& object, const VARIANT* arguments, Variant& result) {
         VARIANT_BOOL value = VARIANT_FALSE;
         const HRESULT hr = object.GoOnline(arguments[0].pbstrVal, arguments[1].plVal, &value);
         return booleanResult(hr, value, result);
     }},
    {L"HangUp", 0x6003000B, DISPATCH_METHOD, L"Instructs the modem to disconnect from the Internet.", {},
     [](_CWinInetConnection& object, const VARIANT*, Variant& result) { return object.HangUp(result.receive()); }},
    {L"Dial", 0x6003000C, DISPATCH_METHOD, L"Initiates a connection to the Internet using a modem.", kDialParameters,
     [](_CWinInetConnection& object, const VARIANT* arguments, Variant& result) {
         VARIANT_BOOL value = VARIANT_FALSE;
         const HRESULT hr = object.Dial(arguments[0].plVal, arguments[1].pbstrVal, arguments[2].plVal,
                                        arguments[3].pboolVal, &value);
         return booleanResult(hr, value, result);
     }},
    {L"AutodialHangup", 0x6003000D, DISPATCH_METHOD, L"Disconnects an automatic dial-up connection.", {},
     [](_CWinInetConnection& object, const VARIANT*, Variant&) { return object.AutodialHangup(); }},
    {L"Autodial", 0x6003000E, DISPATCH_METHOD,
     L"Causes the modem to automatically dial the default Internet connection.", kAutodialParameters,
     [](_CWinInetConnection& object, const VARIANT* arguments, Variant& result) {
         VARIANT_BOOL value = VARIANT_FALSE;
         const HRESULT hr = object.Autodial(arguments[0].plVal, arguments[1].plVal, arguments[2].pboolVal, &value);
         return booleanResult(hr, value, result);
     }},
    {L"Refresh", 0x6003000F, DISPATCH_METHOD, L"Refresh the class data.", {},
     [](_CWinInetConnection& object, const VARIANT*, Variant&) { return object.Refresh(); }},
    {L"IsConnected", 0x68030007, DISPATCH_PROPERTYGET, nullptr, {},
     booleanMember<&_CWinInetConnection::get_IsConnected>},
    {L"ConnectionName", 0x68030006, DISPATCH_PROPERTYGET, L"Name of the active connection.", {},
     [](_CWinInetConnection& object, const VARIANT*, Variant& result) {
         BSTR value = nullptr;
         const HRESULT hr = object.get_ConnectionName(&value);
         if (SUCCEEDED(hr))
             setText(result, value);
         return hr;
     }},
    {L"IsConnectionConfigured", 0x68030005, DISPATCH_PROPERTYGET,
     L"Local system has a valid connection to the Internet, but it may or may not be currently connected.", {},
     booleanMember<&_CWinInetConnection::get_IsConnectionConfigured>},
    {L"IsOffline", 0x68030004, DISPATCH_PROPERTYGET, L"Local system is in offline mode.", {},
     booleanMember<&_CWinInetConnection::get_IsOffline>},
    {L"IsRasInstalled", 0x68030003, DISPATCH_PROPERTYGET, L"Local system has RAS installed.", {},
     booleanMember<&_CWinInetConnection::get_IsRasInstalled>},
    {L"UseProxy", 0x68030002, DISPATCH_PROPERTYGET, L"Local system uses a proxy server to connect to the Internet.", {},
     booleanMember<&_CWinInetConnection::get_UseProxy>},
    {L"UseLAN", 0x68030001, DISPATCH_PROPERTYGET,
     L"Local system uses a local area network to connect to the Internet.", {},
     booleanMember<&_CWinInetConnection::get_UseLAN>},
    {L"UseModem", 0x68030000, DISPATCH_PROPERTYGET, L"Local system uses a modem to connect to the Internet.", {},
     booleanMember<&_CWinInetConnection::get_UseModem>},
    {L"GetWinApiDesc", 0x60030011, DISPATCH_METHOD, nullptr, kGetWinApiDescParameters,
     [](_CWinInetConnection& object, const VARIANT* arguments, Variant& result) {
         BSTR value = nullptr;
         const HRESULT hr = object.GetWinApiDesc(arguments[0].plVal, &value);
         if (SUCCEEDED(hr))
             setText(result, value);
         return hr;
     }},
};

// Member names are ASCII; a host's name with other characters matches none.
bool sameName(const wchar_t* candidate, const wchar_t* name)
{
    if (!candidate)
        return false;
    const auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    for (; *candidate && *name; ++candidate, ++name)
        if (fold(*candidate) != fold(*name))
            return false;
    return *candidate == *name;
}

const ConnectionMember* memberWithId(DISPID id)
{
    for (const ConnectionMember& member : kMembers)
        if (member.id == id)
            return &member;
    return nullptr;
}

// Arguments converted to the declared types, freed when the call is over.
class ConvertedArguments {
public:
    ConvertedArguments()
    {
        for (VARIANT& value : values_)
            VariantInit(&value);
    }
    ~ConvertedArguments()
    {
        for (VARIANT& value : values_)
            VariantClear(&value);
    }
    ConvertedArguments(const ConvertedArguments&) = delete;
    ConvertedArguments& operator=(const ConvertedArguments&) = delete;

    VARIANT& operator[](std::size_t index) { return values_[index]; }

private:
    std::array<VARIANT, kMostParameters> values_;
};

// A reference to `value`, which holds a value of `type`.
VARIANT referenceTo(VARIANT& value, VARTYPE type)
{
    VARIANT reference;
    reference.vt = static_cast<VARTYPE>(VT_BYREF | type);
    reference.byref = &value.lVal; // the union's storage, whichever member `type` uses
    return reference;
}

HRESULT exceptionOf(HRESULT hr, EXCEPINFO* exception)
{
    Microsoft::WRL::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK)
        info.Reset();
    if (!exception) {
        if (info)
            automation::restoreErrorInformation(info.Get());
        return hr;
    }
    *exception = EXCEPINFO{};
    exception->scode = hr;
    if (info) {
        info->GetSource(&exception->bstrSource);
        info->GetDescription(&exception->bstrDescription);
    }
    return DISP_E_EXCEPTION;
}

} // namespace

std::span<const ConnectionMember> connectionMembers()
{
    return kMembers;
}

HRESULT connectionIdsOfNames(LPOLESTR* names, UINT count, DISPID* ids) noexcept
{
    if (count == 0)
        return S_OK;
    if (!names || !ids)
        return E_INVALIDARG;
    const ConnectionMember* found = nullptr;
    for (const ConnectionMember& member : kMembers)
        if (sameName(names[0], member.name))
            found = &member;
    HRESULT hr = S_OK;
    ids[0] = found ? found->id : DISPID_UNKNOWN;
    if (!found)
        hr = DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        if (found)
            for (std::size_t p = 0; p < found->parameters.size(); ++p)
                if (sameName(names[i], found->parameters[p].name))
                    ids[i] = static_cast<DISPID>(p);
        if (ids[i] == DISPID_UNKNOWN)
            hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT invokeConnectionMember(_CWinInetConnection& object, DISPID id, WORD flags, DISPPARAMS* parameters,
                               VARIANT* result, EXCEPINFO* exception, UINT* badArgument) noexcept
{
    if (result)
        VariantInit(result);
    const ConnectionMember* member = memberWithId(id);
    if (!member || !(flags & member->kind))
        return DISP_E_MEMBERNOTFOUND;
    if (!parameters)
        return E_INVALIDARG;
    const UINT count = parameters->cArgs;
    const UINT named = parameters->cNamedArgs;
    if (named > count || (count && !parameters->rgvarg) || (named && !parameters->rgdispidNamedArgs))
        return E_INVALIDARG;
    const std::size_t declared = member->parameters.size();
    if (count > declared)
        return DISP_E_BADPARAMCOUNT;

    // Positional arguments come last in rgvarg, in reverse order.
    std::array<VARIANT*, kMostParameters> given{};
    std::array<UINT, kMostParameters> position{};
    for (UINT i = 0; i < count - named; ++i) {
        given[i] = &parameters->rgvarg[count - 1 - i];
        position[i] = count - 1 - i;
    }
    for (UINT j = 0; j < named; ++j) {
        const DISPID index = parameters->rgdispidNamedArgs[j];
        if (index < 0 || static_cast<std::size_t>(index) >= declared || given[index]) {
            if (badArgument)
                *badArgument = j;
            return DISP_E_PARAMNOTFOUND;
        }
        given[index] = &parameters->rgvarg[j];
        position[index] = j;
    }

    ConvertedArguments owned;
    std::array<VARIANT, kMostParameters> passed{};
    for (std::size_t k = 0; k < declared; ++k) {
        const ConnectionParameter& parameter = member->parameters[k];
        VARIANT* source = given[k];
        const bool missing = !source || automation::isMissing(*source);
        if (missing) {
            if (!parameter.optional)
                return DISP_E_PARAMNOTOPTIONAL;
            owned[k].vt = VT_BOOL;
            owned[k].boolVal = parameter.defaultValue;
        } else if (source->vt == (VT_BYREF | parameter.type) && source->byref) {
            passed[k] = *source;
            continue;
        } else {
            VARIANT value;
            VariantInit(&value);
            HRESULT hr = VariantCopyInd(&value, source);
            if (SUCCEEDED(hr))
                hr = VariantChangeType(&owned[k], &value, 0, parameter.type);
            VariantClear(&value);
            if (FAILED(hr)) {
                if (badArgument)
                    *badArgument = position[k];
                return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
            }
        }
        passed[k] = referenceTo(owned[k], parameter.type);
    }

    automation::restoreErrorInformation(nullptr); // so that error information after a failure is this call's own
    Variant outcome;
    const HRESULT hr = member->call(object, passed.data(), outcome);
    if (FAILED(hr))
        return exceptionOf(hr, exception);
    if (result)
        outcome.release(result);
    return S_OK;
}

} // namespace qel::connection
