#include "mail/Credentials.h"

#include "mail/AsciiText.h"

namespace qel::mail {

std::u16string credentialTarget(const std::string& host, const std::string& port)
{
    std::u16string target = u"QelSmtp/";
    for (const char c : asciiLower(host))
        target += static_cast<char16_t>(c);
    target += u':';
    target.append(port.begin(), port.end());
    return target;
}

} // namespace qel::mail
