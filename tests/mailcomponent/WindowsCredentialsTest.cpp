// The Credential Manager as the component reads it, in the test prefix.
#include <windows.h>
#include <wincred.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "mailcomponent/WindowsCredentials.h"

namespace qel::mailcomponent {
namespace {

const wchar_t kStored[] = L"QelSmtp/credentials.test:2525";

class WindowsCredentialsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::wstring password = L"s\u00e9cret";
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<wchar_t*>(kStored);
        credential.UserName = const_cast<wchar_t*>(L"mailer");
        credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(password.c_str()));
        credential.CredentialBlobSize = static_cast<DWORD>(password.size() * sizeof(wchar_t));
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        ASSERT_TRUE(CredWriteW(&credential, 0));
    }
    void TearDown() override { CredDeleteW(kStored, CRED_TYPE_GENERIC, 0); }
};

TEST_F(WindowsCredentialsTest, OnlyTheServersOwnTargetIsReadWhateverItsCase)
{
    const struct {
        const char16_t* target;
        bool found;
    } cases[] = {
        {u"QelSmtp/credentials.test:2525", true},
        {u"QELSMTP/Credentials.Test:2525", true},
        {u"QelSmtp/credentials.test:25", false}, // a prefix of the stored one
        {u"QelSmtp/credentials.test:25250", false},
        {u"QelSmtp/other.test:2525", false},
    };
    for (const auto& c : cases) {
        mail::Credentials read;
        EXPECT_EQ(WindowsCredentials().read(c.target, read), c.found) << "case " << &c - cases;
        if (c.found) {
            EXPECT_EQ(read.user.view(), "mailer");
            EXPECT_EQ(read.password.view(), "s\xc3\xa9" "cret");
        }
    }
}

// Every send without a stored credential looks one up.
TEST_F(WindowsCredentialsTest, LookingUpAMissingCredentialKeepsNoHandle)
{
    const auto nextHandle = [] {
        const HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        CloseHandle(probe);
        return reinterpret_cast<ULONG_PTR>(probe);
    };
    const ULONG_PTR before = nextHandle();
    for (int i = 0; i < 50; ++i) {
        mail::Credentials read;
        WindowsCredentials().read(u"QelSmtp/missing.test:25", read);
    }
    EXPECT_LE(nextHandle(), before + 4);
}

// The parts as the Credential Manager holds them, the earlier form among them.
TEST_F(WindowsCredentialsTest, LongSecretsGoInPartsAndTheEarlierFormIsRead)
{
    const std::u16string target = u"QelSmtp/credentials.test:2525/oauth-refresh";
    const std::string legacy(1100, 'l');
    WindowsCredentials::Blobs blobs;
    ASSERT_TRUE(blobs.put(target, "mailer", legacy.substr(0, 512)));
    ASSERT_TRUE(blobs.put(target + u"#2", "mailer", legacy.substr(512, 512)));
    ASSERT_TRUE(blobs.put(target + u"#3", "mailer", legacy.substr(1024)));
    WindowsCredentials store;
    mail::SecretText user, value;
    ASSERT_EQ(store.lookup(target, user, value), mail::Stored::Found);
    EXPECT_EQ(value.view(), legacy);
    EXPECT_EQ(user.view(), "mailer");
    for (const std::string& next : {std::string(3000, 'n'), std::string("rt-short"), std::string(mail::kMostStoredSecret, 'm')}) {
        ASSERT_TRUE(store.write(target, "mailer", next));
        ASSERT_EQ(store.lookup(target, user, value), mail::Stored::Found);
        EXPECT_EQ(value.view(), next);
    }
    EXPECT_FALSE(blobs.get(target + u"#2", user, value)); // the earlier form's parts are gone
    EXPECT_FALSE(store.write(target, "mailer", std::string(mail::kMostStoredSecret + 1, 'x')));
    EXPECT_TRUE(store.remove(target));
    EXPECT_EQ(store.lookup(target, user, value), mail::Stored::Absent);
}

// Another process's send renewing the same account: a thread of this one stands in for it.
TEST_F(WindowsCredentialsTest, OneHolderOfAnAccountsRefreshAtATime)
{
    const std::u16string target = u"QelSmtp/credentials.test:2525/oauth-refresh";
    WindowsCredentials store;
    auto first = store.hold(target, mail::Deadline::in(std::chrono::seconds(1)));
    ASSERT_TRUE(first);
    std::unique_ptr<mail::SecretStore::Hold> meanwhile, later, otherCase;
    std::thread([&] {
        meanwhile = store.hold(target, mail::Deadline::in(std::chrono::milliseconds(200)));
        otherCase = store.hold(u"QELSMTP/Credentials.Test:2525/oauth-refresh", mail::Deadline::in(std::chrono::milliseconds(200)));
    }).join();
    EXPECT_FALSE(meanwhile);
    EXPECT_FALSE(otherCase);
    first.reset();
    std::thread([&] { later = store.hold(target, mail::Deadline::in(std::chrono::seconds(1))); }).join();
    EXPECT_TRUE(later);
}

} // namespace
} // namespace qel::mailcomponent
