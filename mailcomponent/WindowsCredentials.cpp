#include "mailcomponent/WindowsCredentials.h"

#include <windows.h>
#include <wincred.h>

#include <memory>

#include "mailcomponent/SecretUtf8.h"

namespace qel::mailcomponent {

namespace {

// The blob holds the password: wiped before the Credential Manager's memory goes back.
void wipeBlob(const CREDENTIALW& credential)
{
    if (credential.CredentialBlob)
        mail::wipe(credential.CredentialBlob, credential.CredentialBlobSize);
}

struct CredentialRelease {
    void operator()(CREDENTIALW* credential) const
    {
        wipeBlob(*credential);
        CredFree(credential);
    }
};

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
        wipeBlob(*list[i]);
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
        appendUtf8(credential->UserName, static_cast<std::size_t>(lstrlenW(credential->UserName)), out.user);
    appendUtf8(reinterpret_cast<const wchar_t*>(credential->CredentialBlob),
               credential->CredentialBlobSize / sizeof(wchar_t), out.password);
    return out.present();
}

} // namespace qel::mailcomponent
