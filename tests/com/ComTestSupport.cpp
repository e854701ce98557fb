#include "com/ComTestSupport.h"

#include "automation/ExceptionInfo.h"

namespace qel::test {

namespace {

class ApartmentEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }
};

const auto* const apartment = ::testing::AddGlobalTestEnvironment(new ApartmentEnvironment);

} // namespace

ComPtr<IDispatch> createByProgId(const wchar_t* programId)
{
    CLSID clsid{};
    EXPECT_HRESULT_SUCCEEDED(CLSIDFromProgID(programId, &clsid));
    ComPtr<IDispatch> object;
    EXPECT_HRESULT_SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
    return object;
}

DispatchResult call(IDispatch* object, const wchar_t* member, WORD kind, const std::vector<VARIANT>& arguments)
{
    DispatchResult result;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(member);
    result.hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(result.hr))
        return result;
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (kind & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    automation::ExceptionInfo exception;
    UINT badArgument = 0;
    result.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result.value.receive(),
                               exception.receive(), &badArgument);
    if (result.hr == DISP_E_EXCEPTION) {
        const EXCEPINFO& raised = exception.get();
        result.scode = raised.scode;
        if (raised.bstrSource)
            result.source = raised.bstrSource;
        if (raised.bstrDescription)
            result.description = raised.bstrDescription;
    }
    return result;
}

DispatchResult get(IDispatch* object, const wchar_t* property)
{
    return call(object, property, DISPATCH_PROPERTYGET);
}

DispatchResult put(IDispatch* object, const wchar_t* property, const VARIANT& value)
{
    return call(object, property, DISPATCH_PROPERTYPUT, {value});
}

std::wstring textOf(const VARIANT& value)
{
    if (value.vt != VT_BSTR)
        return L"<not a string>";
    return std::wstring(value.bstrVal, SysStringLen(value.bstrVal));
}

RaisedError takeErrorInfo()
{
    RaisedError raised;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK) {
        BSTR source = nullptr, description = nullptr;
        info->GetSource(&source);
        info->GetDescription(&description);
        raised.source = source ? source : L"";
        raised.description = description ? description : L"";
        SysFreeString(source);
        SysFreeString(description);
    }
    return raised;
}

std::wstring expectedCurrentEncryption(const std::wstring& ascii)
{
    static const wchar_t key[] = L"mr4ta9zk2qc7wx5nbe0hyj3dvu8pf6ls";
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring hex;
    for (std::size_t i = 0; i < ascii.size(); ++i) {
        const unsigned sum = ascii[i] + key[i % 32];
        hex += digits[sum >> 4];
        hex += digits[sum & 15];
    }
    return hex;
}

} // namespace qel::test
