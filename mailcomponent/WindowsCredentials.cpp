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

// The name a mutex may have: no backslash, and not longer than MAX_PATH; the
// target's letters folded, since the Credential Manager finds a target whatever its case.
std::wstring mutexName(const std::u16string& target)
{
    std::wstring name = L"Local\\QelSmtp-refresh-";
    for (const char16_t c : target)
        name += c == u'\\' ? L'/' : c >= u'A' && c <= u'Z' ? static_cast<wchar_t>(c - u'A' + u'a') : static_cast<wchar_t>(c);
    return name.substr(0, MAX_PATH - 1);
}

class HeldMutex final : public mail::SecretStore::Hold {
public:
    explicit HeldMutex(UniqueKernelHandle mutex) : mutex_(std::move(mutex)) {}
    ~HeldMutex() override
    {
        if (mutex_.valid())
            ReleaseMutex(mutex_.get());
    }

private:
    UniqueKernelHandle mutex_;
};

} // namespace

bool WindowsCredentials::Blobs::get(const std::u16string& name, mail::SecretText& user, mail::SecretText& blob)
{
    user.clear();
    blob.clear();
    const StoredCredential held = readStored(name);
    if (!held.valid())
        return false;
    const CREDENTIALW* credential = held.get();
    if (credential->UserName)
        appendUtf8(credential->UserName, static_cast<std::size_t>(lstrlenW(credential->UserName)), user);
    blob.append(std::string_view(reinterpret_cast<const char*>(credential->CredentialBlob), credential->CredentialBlobSize));
    return true;
}

bool WindowsCredentials::Blobs::put(const std::u16string& name, std::string_view user, std::string_view blob)
{
    const std::u16string wideUser = utf16FromUtf8(user);
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(name.c_str()));
    credential.UserName = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(wideUser.c_str()));
    credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<char*>(blob.data()));
    credential.CredentialBlobSize = static_cast<DWORD>(blob.size());
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    return CredWriteW(&credential, 0);
}

bool WindowsCredentials::Blobs::erase(const std::u16string& name)
{
    return stored(name) && CredDeleteW(reinterpret_cast<LPCWSTR>(name.c_str()), CRED_TYPE_GENERIC, 0);
}

mail::Stored WindowsCredentials::lookup(const std::u16string& target, mail::SecretText& user, mail::SecretText& blob)
{
    return mail::readParted(blobs_, target, user, blob);
}

bool WindowsCredentials::read(const std::u16string& target, mail::SecretText& user, mail::SecretText& blob)
{
    return lookup(target, user, blob) == mail::Stored::Found;
}

bool WindowsCredentials::write(const std::u16string& target, std::string_view user, std::string_view blob)
{
    return mail::writeParted(blobs_, target, user, blob);
}

bool WindowsCredentials::remove(const std::u16string& target)
{
    return mail::removeParted(blobs_, target);
}

std::unique_ptr<mail::SecretStore::Hold> WindowsCredentials::hold(const std::u16string& target, mail::Deadline deadline)
{
    UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, mutexName(target).c_str()));
    // Without a mutex the refresh still goes, as it did before there was one.
    if (!mutex.valid())
        return std::make_unique<Hold>();
    const DWORD ms = static_cast<DWORD>(std::min<long long>(deadline.remaining().count(), INFINITE - 1));
    // Abandoned: its holder ended mid-refresh; the store's value is whole either way.
    const DWORD waited = WaitForSingleObject(mutex.get(), ms);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return nullptr;
    return std::make_unique<HeldMutex>(std::move(mutex));
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
