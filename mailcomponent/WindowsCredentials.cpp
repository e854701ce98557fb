#include "mailcomponent/WindowsCredentials.h"

#include <windows.h>
#include <wincred.h>

#include <memory>

namespace qel::mailcomponent {

namespace {

// The blob holds the password: wiped before the Credential Manager's memory goes back.
struct CredentialRelease {
    void operator()(CREDENTIALW* credential) const
    {
        if (credential->CredentialBlob)
            mail::wipe(credential->CredentialBlob, credential->CredentialBlobSize);
        CredFree(credential);
    }
};

// UTF-16 to UTF-8 straight into secret storage, with no copy left elsewhere.
void appendUtf8(const wchar_t* text, int length, mail::SecretText& out)
{
    if (length <= 0)
        return;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, out.extend(static_cast<std::size_t>(size)), size, nullptr, nullptr);
}

// Wine's CredReadW keeps a registry handle open each time it finds nothing,
// one per send without a stored credential; listing by prefix leaks nothing.
bool stored(const std::u16string& target)
{
    const std::u16string prefix = target + u"*";
    DWORD count = 0;
    CREDENTIALW** list = nullptr;
    if (!CredEnumerateW(reinterpret_cast<LPCWSTR>(prefix.c_str()), 0, &count, &list))
        return false;
    bool found = false;
    for (DWORD i = 0; i < count && !found; ++i)
        found = list[i]->Type == CRED_TYPE_GENERIC
                && CompareStringOrdinal(list[i]->TargetName, -1, reinterpret_cast<LPCWSTR>(target.c_str()), -1, TRUE)
                       == CSTR_EQUAL;
    for (DWORD i = 0; i < count; ++i)
        if (list[i]->CredentialBlob)
            mail::wipe(list[i]->CredentialBlob, list[i]->CredentialBlobSize);
    CredFree(list);
    return found;
}

} // namespace

bool WindowsCredentials::read(const std::u16string& target, mail::Credentials& out)
{
    CREDENTIALW* found = nullptr;
    if (!stored(target) || !CredReadW(reinterpret_cast<LPCWSTR>(target.c_str()), CRED_TYPE_GENERIC, 0, &found) || !found)
        return false;
    const std::unique_ptr<CREDENTIALW, CredentialRelease> credential(found);
    out.user.clear();
    out.password.clear();
    if (credential->UserName)
        appendUtf8(credential->UserName, lstrlenW(credential->UserName), out.user);
    appendUtf8(reinterpret_cast<const wchar_t*>(credential->CredentialBlob),
               static_cast<int>(credential->CredentialBlobSize / sizeof(wchar_t)), out.password);
    return out.present();
}

} // namespace qel::mailcomponent
