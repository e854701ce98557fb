#include "connection/CWinInetConnection.h"

#include <algorithm>
#include <array>
#include <climits>
#include <new>
#include <vector>

#include "automation/ErrorReporting.h"
#include "common/NumberedError.h"
#include "connection/AnsiText.h"
#include "connection/ConnectionMembers.h"
#include "connection/ObjectError.h"

namespace qel::connection {

namespace {

constexpr std::int32_t kRefreshOffset = static_cast<std::int32_t>(0x80040000u);
constexpr std::int32_t kOperationOffset = static_cast<std::int32_t>(0x800403E8u);
constexpr std::int32_t kHighestGeneralError = 12000;
constexpr std::int32_t kOutOfMemory = 7;
constexpr std::int32_t kInternalError = 51;
constexpr DWORD kNameBufferBytes = 0x100;
constexpr DWORD kMessageBufferBytes = 0x100;
constexpr const char* kInternetLibrary = "wininet.dll";
constexpr DWORD kSystemMessageFlags =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;

using Passage = ObjectError::Passage;

VARIANT_BOOL boolean(bool value)
{
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

std::wstring textOf(BSTR text)
{
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

BSTR bstrOf(const std::wstring& text)
{
    BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!copy)
        throw std::bad_alloc();
    return copy;
}

HWND windowOf(LONG handle)
{
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle));
}

std::wstring sourceOf(std::wstring_view operation)
{
    return L"CWinInetConnection." + std::wstring(operation);
}

// Call only from a catch block: raises the error in flight again as the
// guard of `operation` reports it.
[[noreturn]] void rethrowGuarded(std::wstring_view operation, std::int32_t offset, Passage passage)
{
    std::int32_t number = 0;
    std::wstring description;
    try {
        throw;
    } catch (const ObjectError& error) {
        if (error.passesGuardsUnchanged())
            throw;
        number = error.number();
        description = error.description();
    } catch (const NumberedError& error) {
        number = static_cast<std::int32_t>(error.number());
        description = automation::wideDescription(error.number());
    } catch (const std::bad_alloc&) {
        number = kOutOfMemory;
        description = L"Out of memory";
    } catch (...) {
        number = kInternalError;
        description = L"Internal error";
    }
    const std::int64_t sum = std::int64_t{number} + offset;
    if (sum < INT32_MIN)
        throw ObjectError(static_cast<std::int32_t>(ErrorNumber::Overflow), ObjectError::kComponentSource,
                          automation::wideDescription(ErrorNumber::Overflow), Passage::Unchanged);
    throw ObjectError(static_cast<std::int32_t>(sum), sourceOf(operation), std::move(description), passage);
}

template <class Body>
auto guarded(std::wstring_view operation, std::int32_t offset, Body&& body, Passage passage = Passage::Wrapped)
{
    try {
        return body();
    } catch (...) {
        rethrowGuarded(operation, offset, passage);
    }
}

// The COM boundary of every member: whatever is raised becomes a failure
// status with the thread's error information.
template <class Body>
HRESULT reported(Body&& body) noexcept
{
    try {
        body();
        return S_OK;
    } catch (const ObjectError& error) {
        return raiseObjectError(error, IID__CWinInetConnection);
    } catch (...) {
        return automation::resultOfCurrentException(ObjectError::kComponentSource, IID__CWinInetConnection);
    }
}

HRESULT readField(VARIANT_BOOL field, VARIANT_BOOL* value)
{
    if (!value)
        return E_POINTER;
    *value = field;
    return S_OK;
}

} // namespace

CWinInetConnection::CWinInetConnection(std::shared_ptr<ConnectionPlatform> platform) : platform_(std::move(platform)) {}

Microsoft::WRL::ComPtr<_CWinInetConnection> CWinInetConnection::create(std::shared_ptr<ConnectionPlatform> platform)
{
    return automation::adopt<_CWinInetConnection>(new CWinInetConnection(std::move(platform)));
}

STDMETHODIMP CWinInetConnection::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CWinInetConnection::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CWinInetConnection::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    return connectionIdsOfNames(names, count, ids);
}

STDMETHODIMP CWinInetConnection::Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* parameters,
                                        VARIANT* result, EXCEPINFO* exception, UINT* badArgument)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    return invokeConnectionMember(*this, member, flags, parameters, result, exception, badArgument);
}

STDMETHODIMP CWinInetConnection::SetGlobalOnline(VARIANT_BOOL* result)
{
    if (!result)
        return E_POINTER;
    *result = VARIANT_FALSE;
    return reported([&] { *result = boolean(setConnectedState(INTERNET_STATE_CONNECTED, 0, L"SetGlobalOnline")); });
}

STDMETHODIMP CWinInetConnection::SetGlobalOffline(VARIANT_BOOL* result)
{
    if (!result)
        return E_POINTER;
    *result = VARIANT_FALSE;
    return reported([&] {
        *result = boolean(
            setConnectedState(INTERNET_STATE_DISCONNECTED_BY_USER, ISO_FORCE_DISCONNECTED, L"SetGlobalOffline"));
    });
}

STDMETHODIMP CWinInetConnection::GoOnline(BSTR* strURL, LONG* hwndParentWindow, VARIANT_BOOL* result)
{
    if (!strURL || !hwndParentWindow || !result)
        return E_POINTER;
    *result = VARIANT_FALSE;
    return reported([&] { *result = boolean(goOnline(textOf(*strURL), windowOf(*hwndParentWindow))); });
}

STDMETHODIMP CWinInetConnection::HangUp(VARIANT* result)
{
    if (!result)
        return E_POINTER;
    VariantInit(result);
    return reported([&] {
        const bool done = hangUp();
        result->vt = VT_BOOL;
        result->boolVal = boolean(done);
    });
}

STDMETHODIMP CWinInetConnection::Dial(LONG* hwndParentWindow, BSTR* strConnectionName, LONG* lOption,
                                      VARIANT_BOOL* bShowOfflineButton, VARIANT_BOOL* result)
{
    if (!hwndParentWindow || !strConnectionName || !lOption || !result)
        return E_POINTER;
    *result = VARIANT_FALSE;
    DWORD flags = static_cast<DWORD>(*lOption);
    if (bShowOfflineButton && *bShowOfflineButton != VARIANT_FALSE)
        flags |= INTERNET_DIAL_SHOW_OFFLINE;
    return reported(
        [&] { *result = boolean(dial(windowOf(*hwndParentWindow), textOf(*strConnectionName), flags)); });
}

STDMETHODIMP CWinInetConnection::AutodialHangup()
{
    return reported([&] { autodialHangup(); });
}

STDMETHODIMP CWinInetConnection::Autodial(LONG* hwndParentWindow, LONG* lOption, VARIANT_BOOL* bFailIfSecurityCheck,
                                          VARIANT_BOOL* result)
{
    if (!hwndParentWindow || !lOption || !result)
        return E_POINTER;
    DWORD flags = static_cast<DWORD>(*lOption);
    if (!bFailIfSecurityCheck || *bFailIfSecurityCheck != VARIANT_FALSE)
        flags |= INTERNET_AUTODIAL_FAILIFSECURITYCHECK;
    *result = boolean(autodial(windowOf(*hwndParentWindow), flags));
    return S_OK;
}

STDMETHODIMP CWinInetConnection::Refresh()
{
    return reported([&] { refresh(); });
}

STDMETHODIMP CWinInetConnection::get_IsConnected(VARIANT_BOOL* value)
{
    return readField(isConnected_, value);
}

STDMETHODIMP CWinInetConnection::get_ConnectionName(BSTR* value)
{
    if (!value)
        return E_POINTER;
    *value = nullptr;
    return reported([&] { *value = bstrOf(activeConnectionName_); });
}

STDMETHODIMP CWinInetConnection::get_IsConnectionConfigured(VARIANT_BOOL* value)
{
    return readField(isConnectionConfigured_, value);
}

STDMETHODIMP CWinInetConnection::get_IsOffline(VARIANT_BOOL* value)
{
    return readField(isOffline_, value);
}

STDMETHODIMP CWinInetConnection::get_IsRasInstalled(VARIANT_BOOL* value)
{
    return readField(isRasInstalled_, value);
}

STDMETHODIMP CWinInetConnection::get_UseProxy(VARIANT_BOOL* value)
{
    return readField(useProxy_, value);
}

STDMETHODIMP CWinInetConnection::get_UseLAN(VARIANT_BOOL* value)
{
    return readField(useLan_, value);
}

STDMETHODIMP CWinInetConnection::get_UseModem(VARIANT_BOOL* value)
{
    return readField(useModem_, value);
}

STDMETHODIMP CWinInetConnection::GetWinApiDesc(LONG* lErrNumber, BSTR* result)
{
    if (!lErrNumber || !result)
        return E_POINTER;
    *result = nullptr;
    return reported([&] { *result = bstrOf(winApiDescription(*lErrNumber)); });
}

STDMETHODIMP CWinInetConnection::GetWinInetDesc(LONG* errorNumber, BSTR* result)
{
    if (!errorNumber || !result)
        return E_POINTER;
    *result = nullptr;
    return reported([&] { *result = bstrOf(winInetDescription(*errorNumber)); });
}

STDMETHODIMP CWinInetConnection::GetStringFromPtr(LONG_PTR address, BSTR* result)
{
    if (!address || !result)
        return E_POINTER;
    *result = nullptr;
    return reported([&] { *result = bstrOf(stringFromPointer(reinterpret_cast<const char*>(address))); });
}

STDMETHODIMP CWinInetConnection::ProcessError(BSTR* operationName)
{
    if (!operationName)
        return E_POINTER;
    return reported([&] { processError(textOf(*operationName)); });
}

bool CWinInetConnection::setConnectedState(DWORD state, DWORD flags, std::wstring_view operation)
{
    return guarded(operation, kOperationOffset, [&] {
        INTERNET_CONNECTED_INFO record{state, flags};
        const bool done =
            platform_->InternetSetOptionA(nullptr, INTERNET_OPTION_CONNECTED_STATE, &record, sizeof record) != FALSE;
        if (!done)
            processError(operation);
        return done;
    });
}

bool CWinInetConnection::goOnline(const std::wstring& url, HWND parentWindow)
{
    return guarded(L"GoOnline", kOperationOffset, [&] {
        std::string ansiUrl = ansiFromText(url);
        const bool done = platform_->InternetGoOnlineA(ansiUrl.data(), parentWindow, 0) != FALSE;
        if (!done)
            processError(L"GoOnline");
        return done;
    });
}

bool CWinInetConnection::hangUp()
{
    return guarded(L"HangUp", kOperationOffset,
                   [&] { return platform_->InternetHangUp(connection_, 0) == ERROR_SUCCESS; });
}

bool CWinInetConnection::dial(HWND parentWindow, const std::wstring& connectionName, DWORD flags)
{
    return guarded(L"Dial", kOperationOffset, [&] {
        std::string ansiName = ansiFromText(connectionName);
        const bool done = platform_->InternetDialA(parentWindow, ansiName.data(), flags, &connection_, 0) == ERROR_SUCCESS;
        if (!done)
            processError(L"Dial");
        return done;
    });
}

void CWinInetConnection::autodialHangup()
{
    guarded(L"AutodialHangup", kOperationOffset, [&] { platform_->InternetAutodialHangup(0); });
}

bool CWinInetConnection::autodial(HWND parentWindow, DWORD flags)
{
    try {
        const bool done = platform_->InternetAutodial(flags, parentWindow) != FALSE;
        if (!done)
            processError(L"Autodial");
        return done;
    } catch (...) {
        return false;
    }
}

void CWinInetConnection::refresh()
{
    guarded(L"Refresh", kRefreshOffset, [&] {
        // One byte more than the platform is told of, always zero: the name
        // ends inside the buffer even when the platform fills all of it.
        std::array<char, kNameBufferBytes + 1> name{};
        name[0] = ' ';
        DWORD flags = 0;
        if (platform_->InternetGetConnectedStateExA(&flags, name.data(), kNameBufferBytes, 0)) {
            isConnected_ = VARIANT_TRUE;
        } else {
            isConnected_ = VARIANT_FALSE;
            processError(L"Refresh");
        }
        useModem_ = boolean(flags & INTERNET_CONNECTION_MODEM);
        useLan_ = boolean(flags & INTERNET_CONNECTION_LAN);
        useProxy_ = boolean(flags & INTERNET_CONNECTION_PROXY);
        isRasInstalled_ = boolean(flags & INTERNET_RAS_INSTALLED);
        isOffline_ = boolean(flags & INTERNET_CONNECTION_OFFLINE);
        isConnectionConfigured_ = boolean(flags & INTERNET_CONNECTION_CONFIGURED);
        activeConnectionName_ = stringFromPointer(name.data());
    });
}

std::wstring CWinInetConnection::winApiDescription(std::int32_t errorNumber)
{
    std::array<char, kMessageBufferBytes + 1> buffer{};
    // With inserts ignored the arguments are never read; a null list stands
    // in for the 32-bit zero, pointer-sized for the 64-bit build.
    va_list noArguments{};
    const DWORD count = platform_->FormatMessageA(kSystemMessageFlags, nullptr, static_cast<DWORD>(errorNumber),
                                                  LANG_USER_DEFAULT, buffer.data(), kMessageBufferBytes, &noArguments);
    if (count == 0)
        return {};
    return textFromAnsi(std::string_view(buffer.data(), std::min(count, kMessageBufferBytes)));
}

std::wstring CWinInetConnection::winInetDescription(std::int32_t errorNumber)
{
    HMODULE module = platform_->GetModuleHandleA(kInternetLibrary);
    const bool loadedHere = !module;
    if (loadedHere)
        module = platform_->LoadLibraryA(kInternetLibrary);
    // A library loaded here is released on every path; a null handle (nothing
    // could be loaded) is never handed to FreeLibrary.
    const auto release = [&] {
        if (loadedHere && module)
            platform_->FreeLibrary(module);
    };
    std::wstring text;
    try {
        std::array<char, kMessageBufferBytes + 1> buffer{};
        va_list noArguments{};
        const DWORD count = platform_->FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, module,
                                                      static_cast<DWORD>(errorNumber), 0, buffer.data(),
                                                      kMessageBufferBytes, &noArguments);
        // The message-table text ends with CR LF, which is dropped.
        const DWORD kept = std::min(count, kMessageBufferBytes);
        if (kept > 2)
            text = textFromAnsi(std::string_view(buffer.data(), kept - 2));
    } catch (...) {
        release();
        throw;
    }
    release();
    return text;
}

std::wstring CWinInetConnection::stringFromPointer(const char* address)
{
    const int length = std::max(platform_->lstrlenA(address), 0);
    std::vector<char> copy(static_cast<std::size_t>(length) + 1, '\0');
    if (!platform_->lstrcpyA(copy.data(), address))
        return {};
    return textFromAnsi(std::string_view(copy.data(), static_cast<std::size_t>(length)));
}

void CWinInetConnection::processError(std::wstring_view operation)
{
    guarded(
        L"ProcessError", kOperationOffset,
        [&] {
            const auto lastError = static_cast<std::int32_t>(platform_->savedLastError());
            if (lastError <= 0)
                return;
            const bool general = lastError <= kHighestGeneralError;
            const std::wstring text = general ? winApiDescription(lastError) : winInetDescription(lastError);
            std::wstring description = std::wstring(general ? L"Win32API Error: " : L"WinInet API Error: ") +
                                       std::to_wstring(lastError) + L" " + text;
            throw ObjectError(static_cast<std::int32_t>(std::int64_t{lastError} + kOperationOffset),
                              sourceOf(operation), std::move(description), Passage::Unchanged);
        },
        Passage::Unchanged);
}

} // namespace qel::connection
