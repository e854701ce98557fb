#include "mail/TokenResponse.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "mail/AsciiText.h"
#include "mail/DetailText.h"
#include "mail/JsonText.h"
#include "mail/PartedStore.h"

namespace qel::mail {

namespace {

using nlohmann::json;

// An access token a day at most, and a device code half an hour: what the
// big services give, and an endpoint cannot have a token kept for years.
constexpr std::chrono::seconds kLongestAccess{24 * 3600};
constexpr std::chrono::seconds kLongestDeviceCode{30 * 60};

bool tokenLike(const std::string& text, std::size_t most)
{
    return !text.empty() && text.size() <= most && printableAscii(text);
}

// The string at `name`, wiped in the parsed document once taken.
bool takeSecret(json& object, const char* name, SecretText& out, std::size_t most)
{
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string())
        return false;
    std::string& text = found->get_ref<std::string&>();
    const bool fits = tokenLike(text, most);
    if (fits)
        out.append(text);
    wipe(text.data(), text.size());
    return fits;
}

// A count of seconds given as a number or, as some endpoints do, as a string
// of digits; more than `most` is taken as `most`.
bool secondsAt(const json& object, const char* name, std::chrono::seconds& out, std::chrono::seconds most)
{
    const auto found = object.find(name);
    if (found == object.end())
        return true; // each has a default
    long long value = -1;
    if (found->is_number_integer())
        value = found->get<long long>();
    else if (found->is_string()) {
        const std::string& text = found->get_ref<const std::string&>();
        if (!text.empty() && text.size() < 10 && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
            value = std::stoll(text);
    }
    if (value < 0)
        return false;
    out = std::chrono::seconds(std::min<long long>(value, most.count()));
    return true;
}

// The service is down or busy, or something other than it answered (a proxy's page): worth trying later.
bool unavailable(int httpStatus, const json& document)
{
    return httpStatus >= 500 || httpStatus == 429 || document.is_discarded();
}

// Wipes every string in the document: an endpoint may echo a secret anywhere.
void wipeAll(json& value)
{
    if (value.is_string()) {
        std::string& text = value.get_ref<std::string&>();
        wipe(text.data(), text.size());
    } else if (value.is_structured()) {
        for (json& item : value)
            wipeAll(item);
    }
}

class Document {
public:
    explicit Document(std::string_view body) : value_(json::parse(body.begin(), body.end(), nullptr, false)) {}
    ~Document() { wipeAll(value_); }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    json& value() { return value_; }

private:
    json value_;
};

// A refusal in RFC 6749 5.2's form: its error and description, escaped.
MailCode refused(int httpStatus, json& document, std::string& detail, std::string* error)
{
    if (unavailable(httpStatus, document)) {
        detail = "the token endpoint is unavailable for now (HTTP " + std::to_string(httpStatus)
               + (document.is_discarded() ? ", an answer that is not JSON)" : ")");
        return ConnectionDropped;
    }
    const std::string code = stringAt(document, "error");
    if (code.empty()) {
        detail = "the token endpoint answered HTTP " + std::to_string(httpStatus) + " without an OAuth error";
        return AuthProtocolError;
    }
    if (error)
        *error = code;
    detail = "the token endpoint refused: " + escapedText(code, 64);
    if (const std::string description = stringAt(document, "error_description"); !description.empty())
        detail += " (" + escapedText(description, 300) + ")";
    return AuthenticationFailed;
}

} // namespace

MailCode readTokenResponse(int httpStatus, std::string_view body, TokenGrant& out, std::string& detail, std::string* error)
{
    Document document(body);
    json& answer = document.value();
    if (httpStatus != 200 || answer.is_discarded())
        return refused(httpStatus, answer, detail, error);
    if (!answer.is_object()) {
        detail = "the token endpoint's answer is not a JSON object";
        return AuthProtocolError;
    }
    out.accessToken.clear();
    out.refreshToken.clear();
    out.expiresIn = std::chrono::seconds(3600);
    if (!takeSecret(answer, "access_token", out.accessToken, 16 * 1024)) {
        detail = "the token endpoint's answer has no usable access_token";
        return AuthProtocolError;
    }
    const std::string type = stringAt(answer, "token_type");
    if (!asciiEqualFolded(type, "bearer")) {
        out.accessToken.clear();
        detail = "the token endpoint gave a token of type '" + escapedText(type, 32) + "', not Bearer";
        return AuthProtocolError;
    }
    if (answer.contains("refresh_token") && !takeSecret(answer, "refresh_token", out.refreshToken, kMostStoredSecret)) {
        out.accessToken.clear();
        detail = "the token endpoint's refresh_token is malformed or too long to store";
        return AuthProtocolError;
    }
    if (!secondsAt(answer, "expires_in", out.expiresIn, kLongestAccess)) {
        out.accessToken.clear();
        out.refreshToken.clear();
        detail = "the token endpoint's expires_in is not a count of seconds";
        return AuthProtocolError;
    }
    return Ok;
}

MailCode readDeviceAuthorization(int httpStatus, std::string_view body, DeviceAuthorization& out, std::string& detail)
{
    Document document(body);
    json& answer = document.value();
    if (httpStatus != 200 || answer.is_discarded())
        return refused(httpStatus, answer, detail, nullptr);
    out.deviceCode.clear();
    // Google says verification_url where RFC 8628 says verification_uri.
    out.userCode = stringAt(answer, "user_code");
    out.verificationUri = stringAt(answer, "verification_uri");
    if (out.verificationUri.empty())
        out.verificationUri = stringAt(answer, "verification_url");
    const bool https = out.verificationUri.rfind("https://", 0) == 0;
    if (!answer.is_object() || !takeSecret(answer, "device_code", out.deviceCode, kMostStoredSecret) || !tokenLike(out.userCode, 64)
        || !tokenLike(out.verificationUri, 512) || !https || !secondsAt(answer, "expires_in", out.expiresIn, kLongestDeviceCode)
        || !secondsAt(answer, "interval", out.interval, std::chrono::seconds(300))) {
        out.deviceCode.clear();
        detail = "the device authorization endpoint's answer is malformed";
        return AuthProtocolError;
    }
    if (out.interval.count() < 1)
        out.interval = std::chrono::seconds(1);
    return Ok;
}

} // namespace qel::mail
