// qel-gateway-read: prints the head and the decrypted fields of a gateway
// mail body (UTF-8, from a file or standard input), one "name=value" a line.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "common/Utf8.h"
#include "gateway/GatewayReader.h"

int main(int argc, char** argv)
{
    if (argc > 2 || (argc == 2 && std::string(argv[1]) == "--help")) {
        std::cerr << "usage: qel-gateway-read [MAIL-BODY-FILE]\n"
                     "Reads a gateway mail body (UTF-8) and prints its head and decrypted fields.\n";
        return 2;
    }
    std::string bytes;
    if (argc == 2) {
        std::ifstream file(argv[1], std::ios::binary);
        if (!file) {
            std::cerr << "qel-gateway-read: cannot open " << argv[1] << "\n";
            return 2;
        }
        bytes.assign(std::istreambuf_iterator<char>(file), {});
    } else {
        bytes.assign(std::istreambuf_iterator<char>(std::cin), {});
    }
    try {
        const auto mail = qel::gateway::readGatewayMail(qel::utf16FromUtf8(bytes),
                                                        qel::textcrypt::AnsiCodePage::windows1252());
        std::cout << "To: " << qel::utf8FromUtf16(mail.recipientsLine) << "\n";
        std::cout << "Message: " << qel::utf8FromUtf16(mail.messageLine) << "\n";
        for (const auto& field : mail.fields)
            std::cout << qel::utf8FromUtf16(field.name) << "=" << qel::utf8FromUtf16(field.value) << "\n";
    } catch (const qel::gateway::GatewayFormatError& e) {
        std::cerr << "qel-gateway-read: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
