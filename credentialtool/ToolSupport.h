#pragma once
// What the tool's verbs share: their options, their failure message, the
// texts of the command line, and a token request within one request's time.
#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "mail/SecretText.h"
#include "mail/TokenResponse.h"

namespace qel::credentialtool {

constexpr std::chrono::seconds kRequestTimeout{30};

struct Options {
    std::vector<wchar_t*> positional;
    std::map<std::wstring, std::string> named;
    bool noBrowser = false;
    bool send = false;
};

// False when an option is unknown or lacks its value.
bool parseOptions(int argc, wchar_t** argv, Options& out);
// The value of a named option; empty when not given.
std::string named(const Options& options, const wchar_t* name);

// Says what failed on standard error; the exit status of a failed verb.
int failed(const std::string& what);
std::string utf8(const wchar_t* text);
std::wstring wide(std::u16string_view text);

// Wipes a text that holds a secret when it goes out of scope, on every path.
struct WipedOnExit {
    std::string& text;
    ~WipedOnExit() { mail::wipe(text.data(), text.size()); }
};

// A token request to the endpoint, within the tool's time for one request.
mail::MailCode requestTokens(const std::string& url, const mail::SecretText& form, mail::TokenGrant& grant, std::string& detail,
                             std::string* error = nullptr);

} // namespace qel::credentialtool
