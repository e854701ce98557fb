// The portable core's public operations from many threads at once, each
// result compared with the one computed first on one thread. Built into the
// ThreadSanitizer configuration, where any shared write is a report.
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "crypt/QelvanCryptCls.h"
#include "message/GatewayText.h"
#include "textcrypt/AnsiCodePage.h"
#include "textcrypt/CurrentTransform.h"
#include "textcrypt/LegacyTransform.h"

namespace qel {
namespace {

struct Results {
    std::u16string body, outer, current, currentBack, legacy, legacyBack;
    std::vector<std::uint8_t> framed, unframed;
    bool operator==(const Results&) const = default;
};

Results computeAll(int salt)
{
    message::GatewayMessage m;
    m.account = u"account";
    m.password = u"secret";
    m.version = u"1.0.22";
    m.hasCampaign = salt % 2 == 0;
    m.campaign = u"Winter";
    m.recipients = {{u"+447000000" + std::u16string(1, char16_t(u'0' + salt)), u"Ann"}, {u"+447000001", u"Bob"}};
    m.body = u"Hello " + std::u16string(salt + 1, u'x'); // the current transform takes low characters only
    m.replyAddress = u"me@example.com";

    Results r;
    const textcrypt::AnsiCodePage& page = textcrypt::AnsiCodePage::windows1252();
    r.body = message::composeGatewayBody(m);
    r.current = textcrypt::myEncrypt(r.body, page);
    r.currentBack = textcrypt::myDecrypt(r.current, page);
    r.outer = message::composeOuterText(m, r.current);
    r.legacy = textcrypt::myOldEncrypt(m.body + u" \u00E9\U0001F600");
    r.legacyBack = textcrypt::textFromLittleEndianBytes(textcrypt::myOldDecrypt(r.legacy));
    const std::vector<std::uint8_t> bytes(100 + salt, static_cast<std::uint8_t>(salt)), password(32, 7);
    crypt::QelvanCryptCls cipher;
    r.framed = cipher.EncryptData(crypt::ByteArrayView(bytes), crypt::ByteArrayView(password)).entries();
    r.unframed = cipher.DecryptData(crypt::ByteArrayView(r.framed), crypt::ByteArrayView(password)).entries();
    return r;
}

TEST(CoreThreadsTest, ManyThreadsGetTheSingleThreadResults)
{
    constexpr int kSalts = 5, kThreads = 8, kRounds = 25;
    std::vector<Results> expected;
    for (int salt = 0; salt < kSalts; ++salt)
        expected.push_back(computeAll(salt));

    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                if (computeAll((t + round) % kSalts) != expected[(t + round) % kSalts])
                    ++mismatches[t];
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

} // namespace
} // namespace qel
