#include "mailcomponent/UniqueSocket.h" // Winsock before <windows.h>

#include "credentialtool/ToolSupport.h"

#include <algorithm>
#include <cstdio>

#include "common/Utf8.h"
#include "mailcomponent/WinHttpPoster.h"

namespace qel::credentialtool {

using mail::SecretText;

bool parseOptions(int argc, wchar_t** argv, Options& out)
{
    for (int i = 2; i < argc; ++i) {
        const std::wstring word = argv[i];
        if (word == L"--no-browser") {
            out.noBrowser = true;
        } else if (word == L"--send") {
            out.send = true;
        } else if (word.rfind(L"--", 0) == 0) {
            static const wchar_t* kNamed[] = {L"--token-endpoint", L"--device-endpoint", L"--authorize-endpoint",
                                              L"--scope", L"--tenant", L"--wait", L"--from", L"--to"};
            if (i + 1 == argc || std::find(std::begin(kNamed), std::end(kNamed), word) == std::end(kNamed))
                return false;
            out.named[word] = utf8(argv[++i]);
        } else {
            out.positional.push_back(argv[i]);
        }
    }
    return true;
}

std::string named(const Options& options, const wchar_t* name)
{
    const auto found = options.named.find(name);
    return found == options.named.end() ? std::string() : found->second;
}

int failed(const std::string& what)
{
    std::fprintf(stderr, "qel-smtp-credential: %s\n", what.c_str());
    return 1;
}

std::string utf8(const wchar_t* text)
{
    return qel::utf8FromUtf16(reinterpret_cast<const char16_t*>(text));
}

std::wstring wide(std::u16string_view text)
{
    return std::wstring(text.begin(), text.end());
}

mail::MailCode requestTokens(const std::string& url, const SecretText& form, mail::TokenGrant& grant, std::string& detail,
                             std::string* error)
{
    mailcomponent::WinHttpPoster https;
    return mail::requestTokens(https, url, form.view(), mail::Deadline::in(kRequestTimeout), grant, detail, error);
}

} // namespace qel::credentialtool
