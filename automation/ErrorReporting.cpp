#include "automation/ErrorReporting.h"

#include "automation/ErrorInformation.h"

#include <new>
#include <string>

namespace qel::automation {

std::wstring wideDescription(ErrorNumber number)
{
    const std::string_view ascii = standardDescription(number);
    return std::wstring(ascii.begin(), ascii.end());
}

HRESULT raiseNumbered(ErrorNumber number, const wchar_t* source, REFGUID interfaceId)
{
    const std::wstring description = wideDescription(number);
    return describeFailure(resultOf(number), {source, description.c_str(), &interfaceId});
}

HRESULT resultOfCurrentException(const wchar_t* source, REFGUID interfaceId) noexcept
{
    try {
        throw;
    } catch (const NumberedError& e) {
        return raiseNumbered(e.number(), source, interfaceId);
    } catch (const ComFailure& e) {
        return e.described() ? e.result() : failWithoutDescription(e.result());
    } catch (const std::bad_alloc&) {
        return failWithoutDescription(E_OUTOFMEMORY);
    } catch (...) {
        return failWithoutDescription(E_UNEXPECTED);
    }
}

} // namespace qel::automation
