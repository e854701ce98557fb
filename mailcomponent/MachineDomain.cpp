#include "mailcomponent/UniqueHandle.h" // Winsock before <windows.h>

#include "mailcomponent/MachineDomain.h"

#include "mail/SmtpSession.h"

namespace qel::mailcomponent {

std::string machineDomain()
{
    char name[256] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size))
        return {};
    const std::string domain(name, size);
    return domain.find('.') != std::string::npos && mail::isEhloDomain(domain) ? domain : std::string();
}

} // namespace qel::mailcomponent
