#include "mailcomponent/WindowsCredentials.h"

#include <windows.h>
#include <wincred.h>

#include <memory>

#include "common/Utf8.h"
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

using StoredCredential = std::unique_ptr<CREDENTIALW, CredentialRelease>;

StoredCredential readStored(const std::u16string& target)
{
    CREDENTIALW* found = nullptr;
    if (!stored(target) || !CredReadW(reinterpret_cast<LPCWSTR>(target.c_str()), CRED_TYPE_GENERIC, 0, &found))
        return nullptr;
    return StoredCredential(found);
}

std::u16string partTarget(const std::u16string& target, int part)
{
    return part == 1 ? target : target + u"#" + static_cast<char16_t>(u'0' + part);
}

} // namespace

bool WindowsCredentials::read(const std::u16string& target, mail::SecretText& user, mail::SecretText& blob)
{
    user.clear();
    blob.clear();
    for (int part = 1; part <= kMaxParts; ++part) {
        const StoredCredential credential = readStored(partTarget(target, part));
        if (!credential)
            return part > 1;
        if (part == 1 && credential->UserName)
            appendUtf8(credential->UserName, static_cast<std::size_t>(lstrlenW(credential->UserName)), user);
        blob.append(std::string_view(reinterpret_cast<const char*>(credential->CredentialBlob), credential->CredentialBlobSize));
        if (credential->CredentialBlobSize < kPartSize)
            return true;
    }
    return true;
}

bool WindowsCredentials::write(const std::u16string& target, std::string_view user, std::string_view blob)
{
    if (blob.size() >= kPartSize * kMaxParts)
        return false;
    const std::u16string wideUser = utf16FromUtf8(user);
    // Every part is written, the last one shorter than a whole part (empty if need be), so a reader knows the end.
    int part = 1;
    for (std::size_t at = 0;; at += kPartSize, ++part) {
        const std::u16string name = partTarget(target, part);
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(name.c_str()));
        credential.UserName = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(wideUser.c_str()));
        credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<char*>(blob.data() + at));
        credential.CredentialBlobSize = static_cast<DWORD>(std::min(kPartSize, blob.size() - at));
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        if (!CredWriteW(&credential, 0))
            return false;
        if (credential.CredentialBlobSize < kPartSize)
            break;
    }
    for (++part; part <= kMaxParts && stored(partTarget(target, part)); ++part)
        CredDeleteW(reinterpret_cast<LPCWSTR>(partTarget(target, part).c_str()), CRED_TYPE_GENERIC, 0);
    return true;
}

bool WindowsCredentials::remove(const std::u16string& target)
{
    bool removed = false;
    for (int part = 1; part <= kMaxParts; ++part)
        removed = CredDeleteW(reinterpret_cast<LPCWSTR>(partTarget(target, part).c_str()), CRED_TYPE_GENERIC, 0) || removed;
    return removed;
}

bool WindowsCredentials::read(const std::u16string& target, mail::Credentials& out)
{
    mail::SecretText blob;
    if (!read(target, out.user, blob))
        return false;
    out.password.clear();
    appendUtf8(reinterpret_cast<const wchar_t*>(blob.view().data()), blob.view().size() / sizeof(wchar_t), out.password);
    return out.present();
}

} // namespace qel::mailcomponent
