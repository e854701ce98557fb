// Long secrets in parts: a reader or a crash never sees two values spliced,
// and what the earlier form stored is still read.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "mail/PartedStore.h"

namespace qel::mail {
namespace {

// The Credential Manager as it behaves: each blob read and written whole.
// `putsLeft` stops every write from then on, as a crash would.
class MemoryBlobs final : public CredentialBlobs {
public:
    bool get(const std::u16string& name, SecretText& user, SecretText& blob) override
    {
        if (beforeGet)
            beforeGet(name);
        const std::lock_guard<std::mutex> held(lock_);
        user.clear();
        blob.clear();
        const auto found = blobs_.find(name);
        if (found == blobs_.end())
            return false;
        user.append("me@example.com");
        blob.append(found->second);
        return true;
    }
    bool put(const std::u16string& name, std::string_view, std::string_view blob) override
    {
        const std::lock_guard<std::mutex> held(lock_);
        if (putsLeft == 0)
            return false;
        --putsLeft;
        blobs_[name] = blob;
        return true;
    }
    bool erase(const std::u16string& name) override
    {
        const std::lock_guard<std::mutex> held(lock_);
        return putsLeft != 0 && blobs_.erase(name) == 1;
    }
    void set(const std::u16string& name, std::string blob) { blobs_[name] = std::move(blob); }
    std::size_t size() const { return blobs_.size(); }

    int putsLeft = -1;
    std::function<void(const std::u16string&)> beforeGet;

private:
    std::mutex lock_;
    std::map<std::u16string, std::string> blobs_;
};

const std::u16string kTarget = u"QelSmtp/mail.test:587/oauth-refresh";

std::string token(char fill, std::size_t size)
{
    std::string text(size, fill);
    for (std::size_t i = 0; i < size; i += 97)
        text[i] = static_cast<char>('0' + (i / 97) % 10); // no two parts alike
    return text;
}

std::string readBack(MemoryBlobs& blobs, Stored expected = Stored::Found)
{
    SecretText user, value;
    EXPECT_EQ(readParted(blobs, kTarget, user, value), expected);
    return std::string(value.view());
}

TEST(PartedStoreTest, AWriteStoppedAfterAnyPartLeavesTheOldValueOrTheNew)
{
    const std::string olds[] = {"rt-short", token('a', 1500), token('b', 2600), token('c', 512)};
    const std::string news[] = {token('x', 1700), token('y', kMostStoredSecret), "rt-new", token('z', 1024)};
    for (const std::string& old : olds)
        for (const std::string& next : news)
            for (int writes = 0; writes <= kMostParts + 1; ++writes) {
                MemoryBlobs blobs;
                ASSERT_TRUE(writeParted(blobs, kTarget, "me@example.com", token('q', 1300))); // a header of generation a
                ASSERT_TRUE(writeParted(blobs, kTarget, "me@example.com", old));
                blobs.putsLeft = writes;
                const bool whole = writeParted(blobs, kTarget, "me@example.com", next);
                blobs.putsLeft = -1;
                const std::string got = readBack(blobs);
                EXPECT_TRUE(got == next || (!whole && got == old))
                    << old.size() << " -> " << next.size() << " stopped after " << writes << " writes: read " << got.size();
            }
    // From the earlier form, three parts under "#2" and "#3".
    const std::string legacy = token('l', 1200);
    for (int writes = 0; writes <= 5; ++writes) {
        MemoryBlobs blobs;
        blobs.set(kTarget, legacy.substr(0, 512));
        blobs.set(kTarget + u"#2", legacy.substr(512, 512));
        blobs.set(kTarget + u"#3", legacy.substr(1024));
        blobs.putsLeft = writes;
        const bool whole = writeParted(blobs, kTarget, "me@example.com", news[0]);
        blobs.putsLeft = -1;
        const std::string got = readBack(blobs);
        EXPECT_TRUE(got == news[0] || (!whole && got == legacy)) << "stopped after " << writes << " writes";
    }
}

TEST(PartedStoreTest, AReaderDuringRotationsReadsOneWholeValue)
{
    MemoryBlobs blobs;
    const std::string values[] = {token('m', 1900), token('n', 2300), "rt-between", token('o', 600)};
    ASSERT_TRUE(writeParted(blobs, kTarget, "me@example.com", values[0]));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i < 400; ++i)
            writeParted(blobs, kTarget, "me@example.com", values[i % 4]);
        done = true;
    });
    int reads = 0, spliced = 0;
    while (!done || reads == 0) {
        SecretText user, value;
        const Stored got = readParted(blobs, kTarget, user, value);
        ++reads;
        if (got != Stored::Found || std::find(std::begin(values), std::end(values), value.view()) == std::end(values))
            ++spliced;
    }
    writer.join();
    EXPECT_EQ(spliced, 0) << "of " << reads << " reads";

    // A writer that finishes a rotation inside each of many rounds in a row is at work, not a sign of damage.
    int rotations = 0;
    blobs.beforeGet = [&](const std::u16string& name) {
        if (name != kTarget && rotations < 40)
            writeParted(blobs, kTarget, "me@example.com", values[++rotations % 2]);
    };
    EXPECT_EQ(readBack(blobs), values[rotations % 2]);
    EXPECT_EQ(rotations, 40);
}

TEST(PartedStoreTest, TheEarlierFormIsReadAndDamageIsTold)
{
    const std::string first = token('p', 512), second = token('s', 512);
    struct Case {
        std::map<std::u16string, std::string> blobs;
        Stored expected;
        std::string value;
    };
    const std::vector<Case> cases{
        {{{kTarget, "rt-short"}}, Stored::Found, "rt-short"},
        {{{kTarget, first}, {kTarget + u"#2", second}, {kTarget + u"#3", "end"}}, Stored::Found, first + second + "end"},
        {{{kTarget, first}, {kTarget + u"#2", ""}}, Stored::Found, first},
        {{{kTarget, first}}, Stored::Found, first}, // cmdkey's blob of 512 bytes
        {{{kTarget, first}, {kTarget + u"#2", second}}, Stored::Damaged, ""}, // a whole part, then none
        {{{kTarget, std::string("\0qel-parts\0a 600 0000000000000000", 33)}, {kTarget + u"#a1", first},
          {kTarget + u"#a2", token('t', 88)}},
         Stored::Damaged, ""}, // the checksum differs
        {{{kTarget, std::string("\0qel-parts\0zz", 13)}}, Stored::Damaged, ""},
        {{}, Stored::Absent, ""},
    };
    for (const Case& c : cases) {
        MemoryBlobs blobs;
        for (const auto& [name, blob] : c.blobs)
            blobs.set(name, blob);
        EXPECT_EQ(readBack(blobs, c.expected), c.value) << "case " << &c - cases.data();
    }

    MemoryBlobs blobs;
    ASSERT_TRUE(writeParted(blobs, kTarget, "me@example.com", token('u', 2000)));
    blobs.set(kTarget + u"#a3", token('v', 512)); // a part altered where it is stored
    readBack(blobs, Stored::Damaged);
    EXPECT_FALSE(writeParted(blobs, kTarget, "me@example.com", token('w', kMostStoredSecret + 1)));
    ASSERT_TRUE(writeParted(blobs, kTarget, "me@example.com", "rt-short"));
    EXPECT_EQ(blobs.size(), 1u); // no part of a spent token stays behind
    EXPECT_TRUE(removeParted(blobs, kTarget));
    EXPECT_EQ(blobs.size(), 0u);
}

} // namespace
} // namespace qel::mail
