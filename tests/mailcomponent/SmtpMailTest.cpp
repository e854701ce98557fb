// Send's choices, seen by a scripted server and an in-memory store in place
// of Winsock, the Credential Manager and WinHTTP.
#include "mailcomponent/SmtpMail.h"

#include <map>

#include <gtest/gtest.h>

#include "automation/Variant.h"
#include "automation/VariantTerms.h"
#include "common/Utf8.h"
#include "mail/ScriptedServer.h"

namespace qel::mailcomponent {
namespace {

using automation::Variant;

const std::u16string kTarget = u"QelSmtp/mail.example.com:465";

class ScriptedPlatform final : public SendPlatform, mail::CredentialSource, mail::SecretStore, mail::HttpsPoster {
public:
    explicit ScriptedPlatform(std::deque<std::string> replies) : server(std::move(replies)) {}

    std::unique_ptr<PooledTransport> newConnection() override { return std::make_unique<Connection>(server); }
    mail::CredentialSource& passwords() override { return *this; }
    mail::SecretStore& secrets() override { return *this; }
    mail::HttpsPoster& https() override { return *this; }

    bool read(const std::u16string& target, mail::Credentials& out) override
    {
        const auto found = stored.find(target);
        if (found == stored.end())
            return false;
        out.user.append(found->second.first);
        out.password.append(found->second.second);
        return true;
    }
    bool read(const std::u16string& target, mail::SecretText& user, mail::SecretText& blob) override
    {
        const auto found = stored.find(target);
        if (found == stored.end())
            return false;
        user.append(found->second.first);
        blob.append(found->second.second);
        return true;
    }
    bool write(const std::u16string&, std::string_view, std::string_view) override { return false; }
    mail::MailCode post(const std::string&, std::string_view, mail::Deadline, int& status, mail::SecretText& body,
                        std::string&) override
    {
        status = 200;
        body.append(R"({"access_token":"tok-1","token_type":"Bearer","expires_in":3600})");
        return mail::Ok;
    }

    mail::ScriptedServer server;
    std::map<std::u16string, std::pair<std::string, std::string>> stored; // target: user, blob

private:
    class Connection final : public PooledTransport {
    public:
        explicit Connection(mail::ScriptedServer& server) : server_(server) {}
        mail::MailCode connect(const std::string& host, const std::string& port, mail::Deadline resolving,
                               mail::Deadline connecting) override
        {
            return server_.connect(host, port, resolving, connecting);
        }
        mail::MailCode send(std::string_view bytes, mail::Deadline deadline) override { return server_.send(bytes, deadline); }
        mail::MailCode receive(std::string& into, mail::Deadline deadline) override { return server_.receive(into, deadline); }
        mail::MailCode startTls(mail::Deadline deadline) override { return server_.startTls(deadline); }
        std::string failureDetail() const override { return server_.failureDetail(); }
        bool quiet() const override { return server_.quiet(); }
        void dropSocket() override {}

    private:
        mail::ScriptedServer& server_;
    };
};

TEST(SmtpMail, SendsTheAccountItChoseAndAnswersWithWhatWentWrong)
{
    const std::deque<std::string> accepting{"220 hi\r\n", "250-hello\r\n250 AUTH PLAIN XOAUTH2\r\n", "235 ok\r\n",
                                            "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n"};
    const std::string oauthAccount = R"({"grant":"client_credentials","client_id":"c1","client_secret":"s1",)"
                                      R"("token_endpoint":"https://login.example.com/token","scope":"smtp"})";
    struct Case {
        const char* what;
        std::u16string userName, password, accessToken;
        bool passwordStored, oauthStored;
        std::deque<std::string> replies;
        mail::MailCode expected;
        std::string authLine; // empty: no AUTH at all
        std::string detail;
    };
    const std::vector<Case> cases{
        {"the properties before anything stored", u"prop@example.com", u"pw-prop", u"", true, true, accepting, mail::Ok,
         "AUTH PLAIN AHByb3BAZXhhbXBsZS5jb20AcHctcHJvcA==\r\n", ""},
        {"AccessToken with UserName", u"prop@example.com", u"pw-prop", u"tok-prop", true, true, accepting, mail::Ok,
         "AUTH XOAUTH2 dXNlcj1wcm9wQGV4YW1wbGUuY29tAWF1dGg9QmVhcmVyIHRvay1wcm9wAQE=\r\n", ""},
        {"a stored OAuth account before a stored password", u"", u"", u"", true, true, accepting, mail::Ok,
         "AUTH XOAUTH2 dXNlcj1ib3hAZXhhbXBsZS5jb20BYXV0aD1CZWFyZXIgdG9rLTEBAQ==\r\n", ""},
        {"a stored password, refused", u"", u"", u"", true, false,
         {"220 hi\r\n", "250-hello\r\n250 AUTH PLAIN\r\n", "535 5.7.8 no\r\n"}, mail::AuthenticationFailed,
         "AUTH PLAIN AHN0b3JlZEBleGFtcGxlLmNvbQBwdy1zdG9yZWQ=\r\n", "535 5.7.8"},
        {"nothing stored, a recipient refused", u"", u"", u"", false, false,
         {"220 hi\r\n", "250 hello\r\n", "250 ok\r\n", "550 5.1.1 no such user\r\n"}, mail::RecipientRejected, "",
         "550 5.1.1 no such user"},
        {"AccessToken without UserName", u"", u"", u"tok-prop", true, true, accepting, mail::AuthenticationFailed, "",
         "AccessToken needs UserName"},
    };
    for (const Case& c : cases) {
        ScriptedPlatform platform(c.replies);
        if (c.passwordStored)
            platform.stored[kTarget] = {"stored@example.com", "pw-stored"};
        if (c.oauthStored)
            platform.stored[kTarget + u"/oauth"] = {"box@example.com", oauthAccount};
        Microsoft::WRL::ComPtr<SmtpMail> mail;
        mail.Attach(new SmtpMail(platform));
        for (const auto& [put, value] : std::initializer_list<std::pair<HRESULT (STDMETHODCALLTYPE SmtpMail::*)(VARIANT), std::u16string>>{
                 {&SmtpMail::put_MailServer, u"mail.example.com:465"},
                 {&SmtpMail::put_FromAddr, u"me@example.com"},
                 {&SmtpMail::put_Domain, u"client.example.com"},
                 {&SmtpMail::put_UserName, c.userName},
                 {&SmtpMail::put_Password, c.password},
                 {&SmtpMail::put_AccessToken, c.accessToken}})
            ASSERT_HRESULT_SUCCEEDED((mail.Get()->*put)(Variant::ofText(value).get()));
        ASSERT_HRESULT_SUCCEEDED(mail->put_SessionIdleLimit(Variant::ofInteger(0).get()));
        // An answer of its own for each call: one left over from AddRecipient reads as 0.
        Variant added, answer;
        ASSERT_HRESULT_SUCCEEDED(mail->AddRecipient(Variant::ofText(u"you@example.com").get(), Variant().get(),
                                                    Variant().get(), added.receive()));
        EXPECT_EQ(added.get().vt, VT_I2) << c.what;
        EXPECT_EQ(added.get().iVal, mail::Ok) << c.what;
        ASSERT_HRESULT_SUCCEEDED(mail->Send(answer.receive()));
        EXPECT_EQ(answer.get().vt, VT_I2) << c.what;
        EXPECT_EQ(answer.get().iVal, c.expected) << c.what;
        Variant detail;
        ASSERT_HRESULT_SUCCEEDED(mail->get_ErrorDetail(detail.receive()));
        const std::string shown = utf8FromUtf16(automation::textOf(detail.get()));
        if (c.detail.empty()) {
            EXPECT_EQ(shown, "") << c.what;
        } else {
            EXPECT_NE(shown.find(c.detail), std::string::npos) << c.what << ": " << shown;
        }
        const std::string& sent = platform.server.sent;
        if (c.authLine.empty()) {
            EXPECT_EQ(sent.find("AUTH"), std::string::npos) << c.what;
        } else {
            EXPECT_NE(sent.find(c.authLine), std::string::npos) << c.what << ": " << sent;
        }
        if (c.expected == mail::Ok) {
            // The message went, to its end: its head after DATA, then the final dot.
            const std::size_t head = sent.find("\r\nTo: <you@example.com>\r\n", sent.find("\r\nDATA\r\n"));
            EXPECT_NE(head, std::string::npos) << c.what << ": " << sent;
            EXPECT_NE(sent.find("\r\n.\r\n", head), std::string::npos) << c.what << ": " << sent;
        }
    }
}

} // namespace
} // namespace qel::mailcomponent
