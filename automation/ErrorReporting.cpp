#include "automation/ErrorReporting.h"

#include <wrl/client.h>

#include <new>
#include <string>

namespace qel::automation {

namespace {

std::wstring widen(std::string_view ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

} // namespace

HRESULT raiseNumbered(ErrorNumber number, const wchar_t* source, REFGUID interfaceId)
{
    Microsoft::WRL::ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        const std::wstring description = widen(standardDescription(number));
        create->SetGUID(interfaceId);
        create->SetSource(const_cast<LPOLESTR>(source));
        create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
        Microsoft::WRL::ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(&info)))
            SetErrorInfo(0, info.Get());
    }
    return resultOf(number);
}

HRESULT resultOfCurrentException(const wchar_t* source, REFGUID interfaceId) noexcept
{
    try {
        throw;
    } catch (const NumberedError& e) {
        return raiseNumbered(e.number(), source, interfaceId);
    } catch (const ComFailure& e) {
        return e.result();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace qel::automation
