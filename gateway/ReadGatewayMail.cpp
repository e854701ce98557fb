// qel-gateway-read: prints the head and the decrypted fields of a gateway
// mail body; see kGatewayReadUsage for the output forms and exit statuses.
#include <cstdio>
#include <iostream>

#include "gateway/GatewayReadCommand.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Text mode would drop a body's CRs and stop at a Ctrl-Z; the output's lines end in LF as elsewhere.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    try {
        std::ios::sync_with_stdio(false);
        return qel::gateway::runGatewayRead({argv + 1, argv + argc}, *std::cin.rdbuf(), std::cout, std::cerr);
    } catch (...) {
        std::fputs("qel-gateway-read: unexpected failure\n", stderr);
        return qel::gateway::kCannotRead;
    }
}
