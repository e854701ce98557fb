#include "connection/OnlineStatus.h"

namespace qel::connection {

HRESULT queryOnlineStatus(VARIANT*)
{
    return E_NOTIMPL;
}

} // namespace qel::connection
