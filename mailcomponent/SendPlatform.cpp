// Winsock must come before <windows.h>.
#include "mailcomponent/WinsockTransport.h"

#include "mailcomponent/SendPlatform.h"

#include "mailcomponent/WinHttpPoster.h"
#include "mailcomponent/WindowsCredentials.h"

namespace qel::mailcomponent {

namespace {

class WindowsPlatform final : public SendPlatform {
public:
    std::unique_ptr<PooledTransport> newConnection() override { return std::make_unique<WinsockTransport>(); }
    mail::CredentialSource& passwords() override { return credentials_; }
    mail::SecretStore& secrets() override { return credentials_; }
    mail::HttpsPoster& https() override { return https_; }

private:
    WindowsCredentials credentials_;
    WinHttpPoster https_;
};

} // namespace

SendPlatform& SendPlatform::windows()
{
    static WindowsPlatform platform;
    return platform;
}

} // namespace qel::mailcomponent
