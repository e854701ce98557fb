// Adds a DER certificate to the current user's trusted roots of the Wine
// prefix it runs in, for the TLS tests' throwaway CA; the machine's own
// trust store is never touched, and the CA goes with the prefix.
//   trust_root CA.der
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<char> der{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (der.empty() || !CertAddEncodedCertificateToSystemStoreW(L"Root", reinterpret_cast<const BYTE*>(der.data()),
                                                                 static_cast<DWORD>(der.size()))) {
        std::fprintf(stderr, "trust_root: not added (error %lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
