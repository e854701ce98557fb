// The exports of QelSmtp.dll. Registering it takes over the ProgID
// "EasyMail.SMTP" on this machine: a separate, explicit step.
#include "QelSmtp.h"
#include "QelSmtpRegistration.h"
#include "automation/ServerExports.h"
#include "mailcomponent/SmtpMail.h"

QEL_AUTOMATION_SERVER_EXPORTS(qel::mailcomponent::SmtpMail, CLSID_SmtpMail, kQelSmtpRegistration)
