#include "mailcomponent/WindowsCredentials.h"

#include "mailcomponent/UniqueHandle.h" // Winsock before <windows.h>

#include <wincred.h>

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

// One credential as CredReadW hands it out.
struct StoredCredentialTraits : SentinelTraits<CREDENTIALW*, nullptr> {
    static void close(CREDENTIALW* credential)
    {
        wipeBlob(*credential);
        CredFree(credential);
    }
};
using StoredCredential = UniqueHandle<StoredCredentialTraits>;

// A listing as CredEnumerateW hands it out: every blob in it is wiped too.
struct CredentialListTraits : SentinelTraits<CREDENTIALW**, nullptr> {
    DWORD count = 0;
    void close(CREDENTIALW** list) const
    {
        for (DWORD i = 0; i < count; ++i)
            wipeBlob(*list[i]);
        CredFree(list);
    }
};
using CredentialList = UniqueHandle<CredentialListTraits>;

// Wine's CredReadW keeps a registry handle open each time it finds nothing,
// one per send without a stored credential; listing by prefix leaks nothing.
bool stored(const std::u16string& target)
{
    const std::u16string prefix = target + u"*";
    DWORD count = 0;
    CREDENTIALW** listed = nullptr;
    if (!CredEnumerateW(reinterpret_cast<LPCWSTR>(prefix.c_str()), 0, &count, &listed))
        return false;
    const CredentialList list(listed, {{}, count});
    for (DWORD i = 0; i < count; ++i)
        if (listed[i]->Type == CRED_TYPE_GENERIC
            && CompareStringOrdinal(listed[i]->TargetName, -1, reinterpret_cast<LPCWSTR>(target.c_str()), -1, TRUE)
                   == CSTR_EQUAL)
            return true;
    return false;
}

StoredCredential readStored(const std::u16string& target)
{
    CREDENTIALW* found = nullptr;
    if (!stored(target) || !CredReadW(reinterpret_cast<LPCWSTR>(target.c_str()), CRED_TYPE_GENERIC, 0, &found))
        return StoredCredential();
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
        const StoredCredential held = readStored(partTarget(target, part));
        if (!held.valid())
            return part > 1;
        const CREDENTIALW* credential = held.get();
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
