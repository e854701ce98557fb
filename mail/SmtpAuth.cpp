#include "mail/SmtpAuth.h"

#include <algorithm>
#include <sstream>

#include <nlohmann/json.hpp>

#include "mail/AsciiText.h"
#include "mail/Base64.h"

namespace qel::mail {

namespace {

} // namespace

ServerCapabilities capabilitiesOf(const std::vector<std::string>& lines)
{
    ServerCapabilities offered;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string text = asciiLower(lines[i]);
        if (text.rfind("auth=", 0) == 0) // how some older servers say it
            text[4] = ' ';
        std::istringstream words(text);
        std::string keyword;
        words >> keyword;
        if (keyword == "starttls" || keyword == "pipelining" || keyword == "chunking") {
            (keyword == "starttls" ? offered.startTls : keyword == "pipelining" ? offered.pipelining : offered.chunking) = true;
            continue;
        }
        if (keyword != "auth")
            continue;
        offered.authOffered = true;
        for (std::string mechanism; words >> mechanism;) {
            offered.plain = offered.plain || mechanism == "plain";
            offered.login = offered.login || mechanism == "login";
            offered.xoauth2 = offered.xoauth2 || mechanism == "xoauth2";
        }
    }
    return offered;
}

AuthMechanism chooseMechanism(const ServerCapabilities& offered, bool accessToken)
{
    if (accessToken)
        return offered.xoauth2 ? AuthMechanism::XOAuth2 : AuthMechanism::None;
    if (offered.plain)
        return AuthMechanism::Plain;
    if (offered.login)
        return AuthMechanism::Login;
    return AuthMechanism::None;
}

AuthExchange::AuthExchange(AuthMechanism mechanism, const Credentials& credentials)
    : mechanism_(mechanism), credentials_(credentials)
{
}

std::string xoauth2Status(std::string_view challenge)
{
    std::string decoded;
    if (!decodeBase64(challenge, decoded))
        return {};
    const nlohmann::json reply = nlohmann::json::parse(decoded, nullptr, false);
    if (!reply.is_object() || !reply.contains("status"))
        return {};
    const nlohmann::json& status = reply["status"];
    std::string text = status.is_string() ? status.get<std::string>() : status.is_number_integer() ? status.dump() : "";
    if (text.size() > 32 || !printableAscii(text))
        return {};
    return text;
}

bool tokenExpired(std::string_view status)
{
    return status == "401" || asciiEqualFolded(status, "invalid_token");
}

SecretText AuthExchange::firstLine() const
{
    if (mechanism_ == AuthMechanism::Login)
        return SecretText("AUTH LOGIN\r\n");
    SecretText message;
    if (mechanism_ == AuthMechanism::XOAuth2) {
        message.append("user=");
        message.append(credentials_.user.view());
        message.append("\x01" "auth=Bearer ");
        message.append(credentials_.password.view());
        message.append("\x01\x01");
        SecretText line("AUTH XOAUTH2 ");
        appendBase64(message.view(), line);
        line.append("\r\n");
        return line;
    }
    message.append(std::string_view("\0", 1));
    message.append(credentials_.user.view());
    message.append(std::string_view("\0", 1));
    message.append(credentials_.password.view());
    SecretText line("AUTH PLAIN ");
    appendBase64(message.view(), line);
    line.append("\r\n");
    return line;
}

MailCode AuthExchange::answer(int code, std::string_view text, SecretText& next)
{
    next.clear();
    if (code == 235)
        return Ok;
    if (code == 334 && mechanism_ == AuthMechanism::XOAuth2) {
        // A refusal in the form of a challenge: an empty line asks for the final reply.
        if (challengesAnswered_++ > 0)
            return AuthProtocolError;
        refusalStatus_ = xoauth2Status(text);
        next.append("\r\n");
        return Ok;
    }
    if (code == 334) {
        std::string challenge;
        // PLAIN went out whole with the command; LOGIN asks twice, no more.
        if (mechanism_ != AuthMechanism::Login || challengesAnswered_ == 2 || !decodeBase64(text, challenge))
            return AuthProtocolError;
        appendBase64((challengesAnswered_++ == 0 ? credentials_.user : credentials_.password).view(), next);
        next.append("\r\n");
        return Ok;
    }
    // 500: AUTH not known; 504: this mechanism not known (RFC 4954 6).
    if (code == 500 || code == 504)
        return AuthModeNotSupported;
    if (code == 501)
        return AuthProtocolError;
    if (code >= 400 && code < 600)
        return AuthenticationFailed;
    return AuthProtocolError;
}

} // namespace qel::mail
