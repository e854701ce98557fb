#pragma once
// Renderer's GetINetStatus: whether the machine is on line, from a fresh
// connection object per call.
#include <windows.h>
#include <oaidl.h>

namespace qel::connection {

// VT_BOOL in `result`; or the connection object's own error (number, source
// and description in the thread's error information) as the failure status.
HRESULT queryOnlineStatus(VARIANT* result);

} // namespace qel::connection
