#include "mailcomponent/WinsockTransport.h" // Winsock before <windows.h>

#include "credentialtool/SetupTest.h"

#include <chrono>
#include <cstdio>

#include "common/Utf8.h"
#include "mail/DetailText.h"
#include "mail/MessageStream.h"
#include "mailcomponent/MessageStamps.h"
#include "mail/MimeWriter.h"
#include "mail/SmtpSession.h"
#include "mailcomponent/AccountChoice.h"
#include "mailcomponent/MachineDomain.h"
#include "message/MailError.h"

namespace qel::credentialtool {

namespace {

using mailcomponent::ChosenAccount;

// Each line as it comes, with its time since the start: where a setup is
// slow shows as plainly as where it fails.
class ConsoleLines final : public mail::DeliveryObserver {
public:
    void line(std::string_view text) override { say(text); }
    void say(std::string_view text) const
    {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
        std::printf("%+7lld ms  %.*s\n", static_cast<long long>(elapsed.count()), static_cast<int>(text.size()), text.data());
        std::fflush(stdout);
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};


int finish(const ConsoleLines& console, mail::MailCode code, const std::string& detail)
{
    const std::string text = utf8FromUtf16(message::MailErrorText(code));
    console.say("result " + std::to_string(code) + (code == mail::Ok ? " (every step went well)" : " (" + text + ")")
                + (detail.empty() ? "" : "; ErrorDetail: " + mail::escapedText(detail, 2048)));
    return code;
}

} // namespace

int testSetup(const SetupTest& test)
{
    ConsoleLines console;
    std::string detail;
    mail::ServerAddress server;
    if (const mail::MailCode code = mail::parseServer(test.server, server); code != mail::Ok)
        return finish(console, code, "no server in \"" + mail::escapedText(utf8FromUtf16(test.server), 256) + "\"");
    static const char* const security[] = {"plain SMTP", "STARTTLS", "implicit TLS"};
    console.say("server " + server.host + ":" + server.port + ", " + security[static_cast<int>(server.security)]);

    mail::OutgoingMail message;
    message.from = {std::u16string(test.from.begin(), test.from.end()), {}};
    message.to = {{std::u16string(test.to.begin(), test.to.end()), {}}};
    message.subject = u"qel-smtp-credential test";
    message.body = u"A test of this machine's mail setup, sent by qel-smtp-credential test --send.\r\n";
    const bool envelope = !test.from.empty();
    if (envelope)
        if (const mail::MailCode code = mail::validate(message); code != mail::Ok)
            return finish(console, code, "--from and --to must be mail addresses");

    ChosenAccount account;
    const mail::MailCode chosen = mailcomponent::chooseAccount({}, server, mailcomponent::SendPlatform::windows(), account, detail);
    console.say("account: " + account.description());
    if (chosen != mail::Ok)
        return finish(console, chosen, detail);

    mail::DeliveryOptions options;
    options.credentials = &account.credentials;
    options.tokens = account.tokens ? &*account.tokens : nullptr;
    options.detail = &detail;
    options.observer = &console;
    options.domain = mailcomponent::machineDomain();
    options.reach = test.send ? mail::DeliveryOptions::Reach::Delivery
                    : envelope ? mail::DeliveryOptions::Reach::Recipients
                               : mail::DeliveryOptions::Reach::Authentication;
    const mailcomponent::MessageStamps stamps = mailcomponent::stampsForNow();
    mail::MessageStream data(message, stamps.date, stamps.messageId, stamps.boundary);
    mailcomponent::WinsockTransport transport;
    const mail::MailCode code = mail::deliver(transport, server, {test.from, {test.to}}, data, options);
    if (account.tokens && !account.tokens->note().empty())
        detail = account.tokens->note() + (detail.empty() ? "" : "; " + detail);
    return finish(console, code, detail);
}

} // namespace qel::credentialtool
