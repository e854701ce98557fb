// The exports of QelMessage.dll.
#include "QelMessage.h"
#include "QelMessageRegistration.h"
#include "automation/ServerExports.h"
#include "message/Renderer.h"

QEL_AUTOMATION_SERVER_EXPORTS(qel::message::Renderer, CLSID_Renderer, kQelMessageRegistration)
