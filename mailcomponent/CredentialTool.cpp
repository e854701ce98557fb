// qel-smtp-credential: stores, shows or removes the credential the mail
// component reads for a server, for systems without cmdkey (Wine) and for
// scripts. The server is written as in MailServer, so the target is the one
// the component looks up.
//   qel-smtp-credential store SERVER USER [PASSWORD]   (no PASSWORD: one line from standard input)
//   qel-smtp-credential show SERVER                    (the target and the user, never the password)
//   qel-smtp-credential remove SERVER
#include <windows.h>
#include <wincred.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "mail/Credentials.h"
#include "mail/SecretText.h"
#include "mail/SmtpSession.h"

namespace mail = qel::mail;
using mail::wipe;

namespace {

int usage()
{
    std::fwprintf(stderr, L"usage: qel-smtp-credential store SERVER USER [PASSWORD] | show SERVER | remove SERVER\n");
    return 2;
}

int failed(const wchar_t* what)
{
    std::fwprintf(stderr, L"qel-smtp-credential: %ls (error %lu)\n", what, GetLastError());
    return 1;
}

// The password typed or piped in, as UTF-16, wiped by the caller.
bool readPasswordLine(std::wstring& out)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char byte;
    DWORD read = 0;
    mail::SecretText utf8;
    while (ReadFile(input, &byte, 1, &read, nullptr) && read == 1 && byte != '\n')
        if (byte != '\r')
            utf8.append(std::string_view(&byte, 1));
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.view().data(), static_cast<int>(utf8.view().size()), nullptr, 0);
    out.assign(static_cast<std::size_t>(size), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.view().data(), static_cast<int>(utf8.view().size()), out.data(), size);
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return usage();
    const std::wstring verb = argv[1];
    mail::ServerAddress server;
    const std::u16string written(reinterpret_cast<const char16_t*>(argv[2]));
    if (mail::parseServer(written, server) != mail::Sent) {
        std::fwprintf(stderr, L"qel-smtp-credential: '%ls' is no server\n", argv[2]);
        return 2;
    }
    const std::u16string target16 = mail::credentialTarget(server.host, server.port);
    const std::wstring target(target16.begin(), target16.end());

    if (verb == L"store" && (argc == 4 || argc == 5)) {
        std::wstring password;
        if (argc == 5)
            password = argv[4];
        else
            readPasswordLine(password);
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<wchar_t*>(target.c_str());
        credential.UserName = argv[3];
        credential.CredentialBlob = reinterpret_cast<BYTE*>(password.data());
        credential.CredentialBlobSize = static_cast<DWORD>(password.size() * sizeof(wchar_t));
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        const BOOL stored = CredWriteW(&credential, 0);
        wipe(password.data(), password.size() * sizeof(wchar_t));
        if (argc == 5)
            wipe(argv[4], std::wcslen(argv[4]) * sizeof(wchar_t));
        if (!stored)
            return failed(L"the credential was not stored");
        std::wprintf(L"stored %ls for %ls\n", target.c_str(), argv[3]);
        return 0;
    }
    if (verb == L"show" && argc == 3) {
        CREDENTIALW* found = nullptr;
        if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &found))
            return failed(L"no credential is stored for this server");
        std::wprintf(L"%ls %ls\n", target.c_str(), found->UserName ? found->UserName : L"");
        wipe(found->CredentialBlob, found->CredentialBlobSize);
        CredFree(found);
        return 0;
    }
    if (verb == L"remove" && argc == 3) {
        if (!CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0))
            return failed(L"no credential was removed");
        std::wprintf(L"removed %ls\n", target.c_str());
        return 0;
    }
    return usage();
}
