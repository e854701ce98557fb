#include "connection/OnlineStatus.h"

#include <wrl/client.h>

#include "connection/CWinInetConnection.h"
#include "connection/SystemConnectionPlatform.h"

namespace qel::connection {

HRESULT queryOnlineStatus(VARIANT* result)
{
    std::shared_ptr<ConnectionPlatform> platform;
    try {
        platform = std::make_shared<SystemConnectionPlatform>();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return queryOnlineStatus(result, std::move(platform));
}

HRESULT queryOnlineStatus(VARIANT* result, std::shared_ptr<ConnectionPlatform> platform)
{
    if (!result)
        return E_POINTER;
    result->vt = VT_BOOL;
    result->boolVal = VARIANT_FALSE;
    Microsoft::WRL::ComPtr<_CWinInetConnection> connection;
    try {
        connection = CWinInetConnection::create(std::move(platform));
    } catch (...) {
        VariantInit(result);
        return E_OUTOFMEMORY;
    }
    VARIANT_BOOL connected = VARIANT_FALSE;
    HRESULT hr = connection->Refresh();
    if (SUCCEEDED(hr))
        hr = connection->get_IsConnected(&connected);
    if (FAILED(hr)) {
        VariantInit(result); // no result; the error information stays the connection's
        return hr;
    }
    result->boolVal = connected ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

} // namespace qel::connection
