#include "mailcomponent/UniqueSocket.h" // Winsock before <windows.h>

#include "credentialtool/ConsoleSecret.h"

#include <cstdio>
#include <cwchar>
#include <iterator>

#include "mail/PartedStore.h"
#include "mailcomponent/SecretUtf8.h"

namespace qel::credentialtool {

using mail::SecretText;
using mail::wipe;

// The line is gathered in a buffer of fixed size, wiped after, so no grown
// copy is left behind.
bool readSecretLine(SecretText& out)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    bool fits = true;
    if (GetConsoleMode(input, &mode)) {
        SetConsoleMode(input, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT);
        static wchar_t line[mail::kMostStoredSecret];
        std::size_t length = 0;
        wchar_t unit = 0;
        DWORD read = 0;
        while (ReadConsoleW(input, &unit, 1, &read, nullptr) && read == 1 && unit != L'\n') {
            if (unit == L'\r')
                continue;
            if (length == std::size(line))
                fits = false;
            else
                line[length++] = unit;
        }
        SetConsoleMode(input, mode);
        std::fwprintf(stderr, L"\n");
        qel::mailcomponent::appendUtf8(line, length, out);
        wipe(line, sizeof line);
        wipe(&unit, sizeof unit);
    } else {
        char byte = 0;
        DWORD read = 0;
        while (ReadFile(input, &byte, 1, &read, nullptr) && read == 1 && byte != '\n') {
            if (byte == '\r')
                continue;
            if (out.view().size() == mail::kMostStoredSecret)
                fits = false;
            else
                out.append(std::string_view(&byte, 1));
        }
        wipe(&byte, 1);
    }
    fits = fits && out.view().size() <= mail::kMostStoredSecret;
    if (!fits)
        out.clear();
    return fits;
}

int tooLong()
{
    std::fprintf(stderr, "qel-smtp-credential: the secret is longer than the %zu bytes the store takes\n", mail::kMostStoredSecret);
    return 1;
}

void takeArgument(wchar_t* argument, SecretText& out)
{
    qel::mailcomponent::appendUtf8(argument, std::wcslen(argument), out);
    wipe(argument, std::wcslen(argument) * sizeof(wchar_t));
}

} // namespace qel::credentialtool
