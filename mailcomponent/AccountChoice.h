#pragma once
// Which account a send authenticates with, as Send chooses it and the
// credential tool's test repeats it: UserName with Password or AccessToken
// when given; else an OAuth account stored for the server (setting one up
// is a deliberate step, so it comes first); else a stored password; else none.
#include <optional>
#include <string>

#include "mail/Credentials.h"
#include "mail/OAuthAccount.h"
#include "mail/OAuthTokens.h"
#include "mail/SecretText.h"
#include "mail/SmtpSession.h"
#include "mailcomponent/SendPlatform.h"

namespace qel::mailcomponent {

struct GivenAccount {
    std::u16string user;
    const mail::SecretText* password = nullptr;
    const mail::SecretText* accessToken = nullptr;
};

// Holds what the dialogue reads while it runs: not to be moved.
struct ChosenAccount {
    enum class Source { None, Properties, StoredPassword, StoredOAuth } source = Source::None;
    std::u16string target; // the Credential Manager's target for the server
    mail::Credentials credentials;
    mail::OAuthAccount oauth;
    std::optional<mail::OAuthTokens> tokens;
    mail::SecretText identity; // what a kept session's key hashes: the secret, or the stored OAuth account

    ChosenAccount() = default;
    ChosenAccount(const ChosenAccount&) = delete;
    ChosenAccount& operator=(const ChosenAccount&) = delete;

    // Which account and where it came from, never a secret.
    std::string description() const;
};

// Ok, or the code the send ends with (`detail` says why) when the given or
// stored account cannot be used.
mail::MailCode chooseAccount(const GivenAccount& given, const mail::ServerAddress& server, SendPlatform& platform,
                             ChosenAccount& out, std::string& detail);

} // namespace qel::mailcomponent
