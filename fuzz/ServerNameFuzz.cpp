// Whatever text a host sets as MailServer, parsing ends with a code of its
// table; what it accepts is a host of name or address characters and a port
// in 1..65535, and reads back the same when written in canonical form.
#include <cstdlib>

#include "fuzz/FuzzInput.h"
#include "mail/SmtpSession.h"

using namespace qel::mail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::u16string text = qel::fuzz::unitsOf(data, size);
    ServerAddress parsed;
    const MailCode code = parseServer(text, parsed);
    if (code == NoServer || code == HostNotResolved || code == CannotConnect)
        return 0;
    if (code != Ok || parsed.host.empty() || parsed.port.empty() || parsed.port.size() > 5)
        std::abort();
    for (char c : parsed.host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == ':' || c == '%' || c == '_'))
            std::abort();
    long port = 0;
    for (char c : parsed.port) {
        if (c < '0' || c > '9')
            std::abort();
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535)
        std::abort();
    const std::string canonical = (parsed.host.find(':') != std::string::npos ? "[" + parsed.host + "]" : parsed.host) + ":" + parsed.port;
    ServerAddress again;
    if (parseServer(std::u16string(canonical.begin(), canonical.end()), again) != Ok || again.host != parsed.host
        || again.port != parsed.port)
        std::abort();
    return 0;
}
