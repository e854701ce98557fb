#include "mail/OAuthAccount.h"

#include <algorithm>
#include <array>

#include <nlohmann/json.hpp>

#include "mail/AsciiText.h"
#include "mail/JsonText.h"

namespace qel::mail {

namespace {

using nlohmann::json;

constexpr std::array kProviders{
    OAuthProvider{"Microsoft", "https://login.microsoftonline.com/{tenant}/oauth2/v2.0/token",
                  "https://login.microsoftonline.com/{tenant}/oauth2/v2.0/devicecode",
                  "https://login.microsoftonline.com/{tenant}/oauth2/v2.0/authorize",
                  "https://outlook.office365.com/.default", "https://outlook.office.com/SMTP.Send offline_access"},
    // Google's device flow does not grant the mail scope: a browser on this machine does.
    OAuthProvider{"Google", "https://oauth2.googleapis.com/token", "", "https://accounts.google.com/o/oauth2/v2/auth",
                  "https://mail.google.com/", "https://mail.google.com/"},
};

bool endsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool domainOf(std::string_view host, std::string_view domain)
{
    return host == domain || endsWith(host, "." + std::string(domain));
}

std::string withTenant(std::string_view pattern, const std::string& tenant)
{
    std::string out(pattern);
    if (const auto at = out.find("{tenant}"); at != std::string::npos)
        out.replace(at, 8, tenant.empty() ? "organizations" : tenant);
    return out;
}

bool https(const std::string& url)
{
    return url.rfind("https://", 0) == 0 && url.size() > 8 && printableAscii(url);
}

const char* grantName(OAuthGrant grant)
{
    return grant == OAuthGrant::ClientCredentials ? "client_credentials" : "refresh_token";
}

} // namespace

const OAuthProvider* providerFor(std::string_view host)
{
    const std::string name = asciiLower(host);
    for (std::string_view domain : {"office365.com", "outlook.com", "office365.us"})
        if (domainOf(name, domain))
            return &kProviders[0];
    for (std::string_view domain : {"gmail.com", "googlemail.com", "google.com"})
        if (domainOf(name, domain))
            return &kProviders[1];
    return nullptr;
}

bool completeAccount(OAuthAccount& account, std::string_view host, std::string& missing)
{
    if (const OAuthProvider* provider = providerFor(host)) {
        if (account.tokenEndpoint.empty())
            account.tokenEndpoint = withTenant(provider->tokenEndpoint, account.tenant);
        if (account.deviceEndpoint.empty() && !provider->deviceEndpoint.empty())
            account.deviceEndpoint = withTenant(provider->deviceEndpoint, account.tenant);
        if (account.authorizeEndpoint.empty())
            account.authorizeEndpoint = withTenant(provider->authorizeEndpoint, account.tenant);
        if (account.scope.empty())
            account.scope = account.grant == OAuthGrant::ClientCredentials ? provider->appScope : provider->userScope;
    }
    if (account.clientId.empty())
        missing = "a client id";
    else if (account.tokenEndpoint.empty())
        missing = "a token endpoint (no built-in one for this server)";
    else if (!https(account.tokenEndpoint))
        missing = "a token endpoint that is an https address";
    else if (!account.deviceEndpoint.empty() && !https(account.deviceEndpoint))
        missing = "a device endpoint that is an https address";
    else if (!account.authorizeEndpoint.empty() && !https(account.authorizeEndpoint))
        missing = "an authorize endpoint that is an https address";
    else if (account.scope.empty())
        missing = "a scope (no built-in one for this server)";
    else
        return true;
    return false;
}

SecretText storedForm(const OAuthAccount& account)
{
    json form = {{"grant", grantName(account.grant)}, {"client_id", account.clientId}};
    for (const auto& [name, value] : {std::pair{"tenant", &account.tenant}, {"token_endpoint", &account.tokenEndpoint},
                                      {"scope", &account.scope}})
        if (!value->empty())
            form[name] = *value;
    if (!account.clientSecret.empty())
        form["client_secret"] = std::string(account.clientSecret.view());
    std::string text = form.dump();
    SecretText out(text);
    wipe(text.data(), text.size());
    if (form.contains("client_secret")) {
        std::string& secret = form["client_secret"].get_ref<std::string&>();
        wipe(secret.data(), secret.size());
    }
    return out;
}

MailCode readStoredForm(std::string_view blob, OAuthAccount& account, std::string& detail)
{
    json form = json::parse(blob.begin(), blob.end(), nullptr, false);
    const auto text = [&](const char* name) { return stringAt(form, name); };
    const std::string grant = text("grant");
    account = OAuthAccount{};
    if (grant == grantName(OAuthGrant::ClientCredentials) || grant == grantName(OAuthGrant::RefreshToken)) {
        account.grant = grant == grantName(OAuthGrant::RefreshToken) ? OAuthGrant::RefreshToken : OAuthGrant::ClientCredentials;
        account.clientId = text("client_id");
        account.tenant = text("tenant");
        account.tokenEndpoint = text("token_endpoint");
        account.scope = text("scope");
        if (const auto secret = form.find("client_secret"); secret != form.end() && secret->is_string()) {
            std::string& value = secret->get_ref<std::string&>();
            account.clientSecret.append(value);
            wipe(value.data(), value.size());
        }
        return Ok;
    }
    detail = "the stored OAuth account is not in a form this component reads";
    return AuthProtocolError;
}

void appendFormField(SecretText& body, std::string_view name, std::string_view value)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto encode = [&](std::string_view text) {
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
                body.append(std::string_view(&c, 1));
            } else {
                const char escaped[3] = {'%', kHex[byte >> 4], kHex[byte & 15]};
                body.append(std::string_view(escaped, 3));
            }
        }
    };
    if (!body.empty())
        body.append("&");
    encode(name);
    body.append("=");
    encode(value);
}

void appendClient(SecretText& body, const OAuthAccount& account)
{
    appendFormField(body, "client_id", account.clientId);
    if (!account.clientSecret.empty())
        appendFormField(body, "client_secret", account.clientSecret.view());
}

SecretText tokenRequest(const OAuthAccount& account, std::string_view refreshToken)
{
    SecretText body;
    appendFormField(body, "grant_type", grantName(account.grant));
    if (account.grant == OAuthGrant::RefreshToken)
        appendFormField(body, "refresh_token", refreshToken);
    appendClient(body, account);
    appendFormField(body, "scope", account.scope);
    return body;
}

} // namespace qel::mail
