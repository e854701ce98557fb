// The exports of QelSmtp.dll. Registering it takes over the ProgID
// "EasyMail.SMTP" on this machine: a separate, explicit step.
#include "QelSmtp.h"
#include "automation/ServerExports.h"
#include "mailcomponent/SmtpMail.h"

namespace {

const qel::automation::ServerDescription kSmtpMail{
    &CLSID_SmtpMail, L"Qel SMTP mail component", L"EasyMail.SMTP", &LIBID_QelSmtp, 1, 0, 0x0409,
};

} // namespace

QEL_AUTOMATION_SERVER_EXPORTS(qel::mailcomponent::SmtpMail, kSmtpMail)
