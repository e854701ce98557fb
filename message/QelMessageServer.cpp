// The exports of QelMessage.dll.
#include "QelMessage.h"
#include "automation/ServerExports.h"
#include "message/Renderer.h"

namespace {

const qel::automation::ServerDescription kRenderer{
    &CLSID_Renderer, L"QelMessage.Renderer", L"QelMessage.Renderer", &LIBID_QelMessage, 1, 0, 0x0409,
};

} // namespace

QEL_AUTOMATION_SERVER_EXPORTS(qel::message::Renderer, kRenderer)
