#include "mail/Credentials.h"

namespace qel::mail {

std::u16string credentialTarget(const std::string& host, const std::string& port)
{
    std::u16string target = u"QelSmtp/";
    for (char c : host)
        target += static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    target += u':';
    target.append(port.begin(), port.end());
    return target;
}

} // namespace qel::mail
