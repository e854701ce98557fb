#pragma once
// CWinInetConnection: the machine's internet connection state read into
// read-only properties, the dial-up and online-mode operations, and platform
// failures turned into raised errors. Private to QelMessage: not registered,
// no type library; only GetINetStatus creates it.
//
// Each operation runs inside a guard that moves any error raised in its body
// into the component's range and names the operation as its source. An error
// that ProcessError composes (or that ProcessError's own guard wraps) is
// marked so that the operation's guard lets it pass unchanged.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "automation/DualObject.h"
#include "connection/ConnectionPlatform.h"
#include "connection/WinInetConnectionInterface.h"

namespace qel::connection {

class CWinInetConnection final : public automation::DualObject<_CWinInetConnection, &IID__CWinInetConnection> {
public:
    // A new object with its one reference held by the result.
    static Microsoft::WRL::ComPtr<_CWinInetConnection> create(std::shared_ptr<ConnectionPlatform> platform);

    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* badArgument) override;

    STDMETHODIMP SetGlobalOnline(VARIANT_BOOL* result) override;
    STDMETHODIMP SetGlobalOffline(VARIANT_BOOL* result) override;
    STDMETHODIMP GoOnline(BSTR* strURL, LONG* hwndParentWindow, VARIANT_BOOL* result) override;
    STDMETHODIMP HangUp(VARIANT* result) override;
    STDMETHODIMP Dial(LONG* hwndParentWindow, BSTR* strConnectionName, LONG* lOption,
                      VARIANT_BOOL* bShowOfflineButton, VARIANT_BOOL* result) override;
    STDMETHODIMP AutodialHangup() override;
    STDMETHODIMP Autodial(LONG* hwndParentWindow, LONG* lOption, VARIANT_BOOL* bFailIfSecurityCheck,
                          VARIANT_BOOL* result) override;
    STDMETHODIMP Refresh() override;
    STDMETHODIMP get_IsConnected(VARIANT_BOOL* value) override;
    STDMETHODIMP get_ConnectionName(BSTR* value) override;
    STDMETHODIMP get_IsConnectionConfigured(VARIANT_BOOL* value) override;
    STDMETHODIMP get_IsOffline(VARIANT_BOOL* value) override;
    STDMETHODIMP get_IsRasInstalled(VARIANT_BOOL* value) override;
    STDMETHODIMP get_UseProxy(VARIANT_BOOL* value) override;
    STDMETHODIMP get_UseLAN(VARIANT_BOOL* value) override;
    STDMETHODIMP get_UseModem(VARIANT_BOOL* value) override;
    STDMETHODIMP GetWinApiDesc(LONG* lErrNumber, BSTR* result) override;
    STDMETHODIMP GetWinInetDesc(LONG* errorNumber, BSTR* result) override;
    STDMETHODIMP GetStringFromPtr(LONG_PTR address, BSTR* result) override;
    STDMETHODIMP ProcessError(BSTR* operationName) override;

private:
    explicit CWinInetConnection(std::shared_ptr<ConnectionPlatform> platform);

    bool setConnectedState(DWORD state, DWORD flags, std::wstring_view operation);
    bool goOnline(const std::wstring& url, HWND parentWindow);
    bool hangUp();
    bool dial(HWND parentWindow, const std::wstring& connectionName, DWORD flags);
    void autodialHangup();
    bool autodial(HWND parentWindow, DWORD flags);
    void refresh();
    std::wstring winApiDescription(std::int32_t errorNumber);
    std::wstring winInetDescription(std::int32_t errorNumber);
    std::wstring stringFromPointer(const char* address);
    void processError(std::wstring_view operation);

    std::shared_ptr<ConnectionPlatform> platform_;

    VARIANT_BOOL useModem_ = VARIANT_FALSE;
    VARIANT_BOOL useLan_ = VARIANT_FALSE;
    VARIANT_BOOL useProxy_ = VARIANT_FALSE;
    VARIANT_BOOL isRasInstalled_ = VARIANT_FALSE;
    VARIANT_BOOL isOffline_ = VARIANT_FALSE;
    VARIANT_BOOL isConnectionConfigured_ = VARIANT_FALSE;
    std::wstring activeConnectionName_;
    VARIANT_BOOL isConnected_ = VARIANT_FALSE;
    // Pointer-sized because InternetDialA writes a DWORD_PTR; 32-bit in the shipped form.
    DWORD_PTR connection_ = 0;
};

} // namespace qel::connection
