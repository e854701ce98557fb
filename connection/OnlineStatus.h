#pragma once
// Renderer's GetINetStatus: whether the machine is on line, from a fresh
// connection object per call.
#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "connection/ConnectionPlatform.h"

namespace qel::connection {

// VT_BOOL in `result`; or the connection object's own error (number, source
// and description in the thread's error information) as the failure status.
HRESULT queryOnlineStatus(VARIANT* result);

// The same over another platform, for tests.
HRESULT queryOnlineStatus(VARIANT* result, std::shared_ptr<ConnectionPlatform> platform);

} // namespace qel::connection
