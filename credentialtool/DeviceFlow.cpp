#include "mailcomponent/UniqueSocket.h" // Winsock before <windows.h>

#include "credentialtool/DeviceFlow.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "credentialtool/ToolSupport.h"
#include "mailcomponent/WinHttpPoster.h"

namespace qel::credentialtool {

using mail::SecretText;
using mailcomponent::WinHttpPoster;

int deviceFlow(const mail::OAuthAccount& account, mail::TokenGrant& grant)
{
    SecretText form;
    mail::appendFormField(form, "client_id", account.clientId);
    mail::appendFormField(form, "scope", account.scope);
    WinHttpPoster https;
    int status = 0;
    SecretText body;
    std::string detail;
    mail::DeviceAuthorization device;
    if (https.post(account.deviceEndpoint, form.view(), mail::Deadline::in(kRequestTimeout), status, body, detail) != mail::Ok
        || mail::readDeviceAuthorization(status, body.view(), device, detail) != mail::Ok)
        return failed(detail);
    std::printf("To sign in, open %s and enter the code %s\n", device.verificationUri.c_str(), device.userCode.c_str());
    std::fflush(stdout);
    const mail::Deadline expires = mail::Deadline::in(device.expiresIn);
    auto interval = device.interval;
    for (;;) {
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(interval, expires.remaining()));
        if (expires.passed())
            return failed("the code expired before anyone signed in");
        SecretText poll;
        mail::appendFormField(poll, "grant_type", "urn:ietf:params:oauth:grant-type:device_code");
        mail::appendFormField(poll, "device_code", device.deviceCode.view());
        mail::appendClient(poll, account);
        std::string error;
        const mail::MailCode code = requestTokens(account.tokenEndpoint, poll, grant, detail, &error);
        if (code == mail::Ok)
            return 0;
        if (error == "authorization_pending")
            continue;
        if (error == "slow_down") {
            interval += std::chrono::seconds(5);
            continue;
        }
        if (error == "access_denied")
            return failed("the sign-in was declined");
        if (error == "expired_token")
            return failed("the code expired before anyone signed in");
        return failed(detail);
    }
}

} // namespace qel::credentialtool
