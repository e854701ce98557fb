#pragma once
// The dual interface of CWinInetConnection. No type library describes it (the
// class is private to QelMessage), so this declaration order is the vtable
// contract; the names, DISPIDs and help strings that late-bound callers see
// live in ConnectionMembers. Slots 17 to 19 are private routines: they hold
// their places in the vtable but have no DISPID.
//
// Public arguments are by reference, as the class's callers pass them; a null
// optional argument takes its default. Window handles stay 32-bit (their
// upper half is never significant); the address of slot 18 is pointer-sized
// so that the 64-bit build works, and 32-bit in the shipped form.
#include <windows.h>
#include <oaidl.h>

MIDL_INTERFACE("58BCD863-F121-40C9-BF81-78C93FED52B9")
_CWinInetConnection : public IDispatch
{
    virtual HRESULT STDMETHODCALLTYPE SetGlobalOnline(VARIANT_BOOL* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGlobalOffline(VARIANT_BOOL* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GoOnline(BSTR* strURL, LONG* hwndParentWindow, VARIANT_BOOL* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE HangUp(VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Dial(LONG* hwndParentWindow, BSTR* strConnectionName, LONG* lOption,
                                           VARIANT_BOOL* bShowOfflineButton, VARIANT_BOOL* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE AutodialHangup() = 0;
    virtual HRESULT STDMETHODCALLTYPE Autodial(LONG* hwndParentWindow, LONG* lOption,
                                               VARIANT_BOOL* bFailIfSecurityCheck, VARIANT_BOOL* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Refresh() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsConnected(VARIANT_BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionName(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsConnectionConfigured(VARIANT_BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsOffline(VARIANT_BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsRasInstalled(VARIANT_BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UseProxy(VARIANT_BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UseLAN(VARIANT_BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UseModem(VARIANT_BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWinApiDesc(LONG* lErrNumber, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWinInetDesc(LONG* errorNumber, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStringFromPtr(LONG_PTR address, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE ProcessError(BSTR* operationName) = 0;
};
__CRT_UUID_DECL(_CWinInetConnection, 0x58BCD863, 0xF121, 0x40C9, 0xBF, 0x81, 0x78, 0xC9, 0x3F, 0xED, 0x52, 0xB9)

inline constexpr IID IID__CWinInetConnection = {
    0x58BCD863, 0xF121, 0x40C9, {0xBF, 0x81, 0x78, 0xC9, 0x3F, 0xED, 0x52, 0xB9}};
