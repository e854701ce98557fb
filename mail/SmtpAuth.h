#pragma once
// SMTP authentication (RFC 4954) with PLAIN (RFC 4616) and LOGIN, and
// XOAUTH2 for an OAuth 2.0 access token: what an
// EHLO reply offers, which mechanism to use, and the exchange itself, step
// by step, so that the dialogue owns the connection and this owns the rules.
#include <string>
#include <string_view>
#include <vector>

#include "mail/Credentials.h"
#include "mail/MailCodes.h"

namespace qel::mail {

struct ServerCapabilities {
    bool startTls = false;
    bool authOffered = false;
    bool plain = false;
    bool login = false;
    bool xoauth2 = false;
    bool pipelining = false; // RFC 2920
    bool chunking = false;   // RFC 3030: BDAT
};

// `lines`: the texts of an EHLO reply, each without its code and separator;
// the first, which greets, is not read.
ServerCapabilities capabilitiesOf(const std::vector<std::string>& lines);

enum class AuthMechanism { None, Plain, Login, XOAuth2 };

// For a password: PLAIN when offered (one round trip), LOGIN otherwise. For
// an access token: XOAUTH2. None when the server offers no such mechanism.
AuthMechanism chooseMechanism(const ServerCapabilities& offered, bool accessToken = false);

// The "status" of an XOAUTH2 failure challenge (base64 of a JSON object),
// printable ASCII only; empty when there is none.
std::string xoauth2Status(std::string_view challenge);
// Whether that status says the token is invalid or expired (401, RFC 7628's
// "invalid_token"), the one refusal a new token can mend.
bool tokenExpired(std::string_view status);

class AuthExchange {
public:
    AuthExchange(AuthMechanism mechanism, const Credentials& credentials);

    // The AUTH command, CRLF included.
    SecretText firstLine() const;
    // Takes the reply to the line last sent (its code and the text of its
    // last line). Ok with `next` empty: authenticated. Ok with `next`
    // filled: send it and read the next reply. Otherwise the failure code:
    // AuthenticationFailed, AuthModeNotSupported or AuthProtocolError.
    MailCode answer(int code, std::string_view text, SecretText& next);
    // What an XOAUTH2 server said of a refused token (its challenge's status).
    const std::string& refusalStatus() const { return refusalStatus_; }

private:
    AuthMechanism mechanism_;
    const Credentials& credentials_;
    int challengesAnswered_ = 0;
    std::string refusalStatus_;
};

} // namespace qel::mail
