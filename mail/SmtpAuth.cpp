#include "mail/SmtpAuth.h"

#include <algorithm>
#include <sstream>

#include "mail/Base64.h"

namespace qel::mail {

namespace {

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

} // namespace

ServerCapabilities capabilitiesOf(const std::vector<std::string>& lines)
{
    ServerCapabilities offered;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string text = upper(lines[i]);
        if (text.rfind("AUTH=", 0) == 0) // how some older servers say it
            text[4] = ' ';
        std::istringstream words(text);
        std::string keyword;
        words >> keyword;
        if (keyword == "STARTTLS") {
            offered.startTls = true;
            continue;
        }
        if (keyword != "AUTH")
            continue;
        offered.authOffered = true;
        for (std::string mechanism; words >> mechanism;) {
            offered.plain = offered.plain || mechanism == "PLAIN";
            offered.login = offered.login || mechanism == "LOGIN";
        }
    }
    return offered;
}

AuthMechanism chooseMechanism(const ServerCapabilities& offered)
{
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

SecretText AuthExchange::firstLine() const
{
    if (mechanism_ == AuthMechanism::Login)
        return SecretText("AUTH LOGIN\r\n");
    SecretText message;
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
        return Sent;
    if (code == 334) {
        std::string challenge;
        // PLAIN went out whole with the command; LOGIN asks twice, no more.
        if (mechanism_ != AuthMechanism::Login || challengesAnswered_ == 2 || !decodeBase64(text, challenge))
            return AuthProtocolError;
        appendBase64((challengesAnswered_++ == 0 ? credentials_.user : credentials_.password).view(), next);
        next.append("\r\n");
        return Sent;
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
