// Whatever a token endpoint or an XOAUTH2 server answers, reading it ends
// with a code of the table, hands out only tokens of the form they must
// have, and puts no control character in the words for ErrorDetail.
#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "mail/OAuthAccount.h"
#include "mail/SmtpAuth.h"
#include "mail/TokenResponse.h"

namespace {

using namespace qel::mail;

bool visible(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

bool printable(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int status = data[0] % 4 == 0 ? 200 : 400 + data[0] % 4;
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);

    TokenGrant grant;
    std::string detail, error;
    const MailCode code = readTokenResponse(status, body, grant, detail, &error);
    // ConnectionDropped: the endpoint is unavailable for now (5xx, 429, no JSON).
    if (code != Ok && code != AuthenticationFailed && code != AuthProtocolError && code != ConnectionDropped)
        std::abort();
    if (code == Ok && (grant.accessToken.empty() || !visible(grant.accessToken.view()) || !visible(grant.refreshToken.view())))
        std::abort();
    if (code != Ok && (!grant.accessToken.empty() || !printable(detail) || detail.size() > 512))
        std::abort();

    DeviceAuthorization device;
    if (readDeviceAuthorization(status, body, device, detail) == Ok
        && (device.verificationUri.rfind("https://", 0) != 0 || !visible(device.userCode) || device.interval.count() < 1))
        std::abort();

    if (const std::string challenge = xoauth2Status(body); !visible(challenge) || challenge.size() > 32)
        std::abort();

    OAuthAccount account;
    if (readStoredForm(body, account, detail) == Ok)
        storedForm(account);
    return 0;
}
