#include "mail/PartedStore.h"

#include <cstdint>
#include <cstdio>

namespace qel::mail {

namespace {

// A header starts with a zero byte, which no token, JSON or text has, and
// has an odd length, which no UTF-16 password (cmdkey's form) has.
constexpr std::string_view kHeaderMark{"\0qel-parts\0", 11};
// Rounds of reading while writers replace the value. A broken round whose
// head the next round finds changed was a writer at work, not damage, and
// counts only towards the outer bound. A head read twice alike still proves
// no damage (a writer may have come back to the same generation with the
// same value meanwhile), so the value is called damaged only after several.
constexpr int kBrokenRoundsAlike = 8;
constexpr int kMostReadRounds = 64;

// FNV-1a: it tells a splice or a damaged part, which is all it is for; the
// store's protection of the secret is the Credential Manager's.
std::uint64_t checksum(std::string_view bytes)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

std::u16string partName(const std::u16string& target, char generation, int part)
{
    return target + u"#" + static_cast<char16_t>(generation) + static_cast<char16_t>(u'0' + part);
}

std::u16string legacyPart(const std::u16string& target, int part)
{
    return target + u"#" + static_cast<char16_t>(u'0' + part);
}

bool isHeader(std::string_view blob)
{
    return blob.substr(0, kHeaderMark.size()) == kHeaderMark && blob.size() % 2 == 1;
}

std::string header(char generation, std::size_t length, std::uint64_t sum)
{
    char text[64];
    std::snprintf(text, sizeof text, "%c %zu %016llx", generation, length, static_cast<unsigned long long>(sum));
    std::string out(kHeaderMark);
    out += text;
    if (out.size() % 2 == 0)
        out += ' ';
    return out;
}

struct Header {
    char generation = 0;
    std::size_t length = 0;
    std::uint64_t sum = 0;
};

bool parseHeader(std::string_view blob, Header& out)
{
    const std::string text(blob.substr(kHeaderMark.size()));
    char generation = 0;
    unsigned long long length = 0, sum = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%c %llu %16llx%n", &generation, &length, &sum, &used) != 3
        || (generation != 'a' && generation != 'b') || length < kPartSize || length > kMostStoredSecret)
        return false;
    out = {generation, static_cast<std::size_t>(length), sum};
    return true;
}

enum class Round { Whole, Absent, Broken };

// One attempt; Broken when a part is missing or does not fit, which a writer at work can cause.
Round readOnce(CredentialBlobs& blobs, const std::u16string& target, SecretText& head, SecretText& user, SecretText& value)
{
    head.clear();
    user.clear();
    value.clear();
    if (!blobs.get(target, user, head))
        return Round::Absent;
    SecretText partUser, part;
    if (!isHeader(head.view())) {
        value.append(head.view());
        // The earlier form ends with a part shorter than a whole one. A whole
        // part with nothing after it is one blob as cmdkey stores a password.
        for (int next = 2; head.view().size() == kPartSize && (next == 2 || part.view().size() == kPartSize); ++next) {
            if (next == 2 && !blobs.get(legacyPart(target, next), partUser, part))
                return Round::Whole;
            if (next > 2 && (next > kMostParts || !blobs.get(legacyPart(target, next), partUser, part)))
                return Round::Broken;
            if (part.view().size() > kPartSize)
                return Round::Broken;
            value.append(part.view());
        }
        return Round::Whole;
    }
    Header parsed;
    if (!parseHeader(head.view(), parsed))
        return Round::Broken;
    for (int next = 1; value.view().size() < parsed.length; ++next) {
        const std::size_t expected = std::min(kPartSize, parsed.length - value.view().size());
        if (!blobs.get(partName(target, parsed.generation, next), partUser, part) || part.view().size() != expected)
            return Round::Broken;
        value.append(part.view());
    }
    return checksum(value.view()) == parsed.sum ? Round::Whole : Round::Broken;
}

} // namespace

Stored readParted(CredentialBlobs& blobs, const std::u16string& target, SecretText& user, SecretText& value)
{
    SecretText head, brokenHead;
    int alike = 0;
    for (int round = 0; round < kMostReadRounds && alike < kBrokenRoundsAlike; ++round) {
        const Round got = readOnce(blobs, target, head, user, value);
        if (got == Round::Whole)
            return Stored::Found;
        if (got == Round::Absent)
            return Stored::Absent;
        if (round > 0 && head.view() == brokenHead.view())
            ++alike;
        brokenHead.clear();
        brokenHead.append(head.view());
    }
    user.clear();
    value.clear();
    return Stored::Damaged;
}

bool writeParted(CredentialBlobs& blobs, const std::u16string& target, std::string_view user, std::string_view value)
{
    if (value.size() > kMostStoredSecret)
        return false;
    SecretText currentUser, current;
    Header named;
    const bool parted = blobs.get(target, currentUser, current) && isHeader(current.view()) && parseHeader(current.view(), named);
    const char generation = parted && named.generation == 'a' ? 'b' : 'a';
    if (value.size() < kPartSize) {
        if (!blobs.put(target, user, value))
            return false;
    } else {
        // The generation the target names stays untouched until the new one is whole.
        for (std::size_t at = 0; at < value.size(); at += kPartSize)
            if (!blobs.put(partName(target, generation, static_cast<int>(at / kPartSize) + 1), user,
                           value.substr(at, kPartSize)))
                return false;
        if (!blobs.put(target, user, header(generation, value.size(), checksum(value))))
            return false;
    }
    // What no reader is sent to any more: the other generation (both, for a short value) and the earlier form.
    // Parts are written from the first on, so the first one missing ends each.
    for (const char old : {'a', 'b'})
        if (value.size() < kPartSize || old != generation)
            for (int part = 1; part <= kMostParts && blobs.erase(partName(target, old, part)); ++part) {
            }
    for (int part = 2; part <= kMostParts && blobs.erase(legacyPart(target, part)); ++part) {
    }
    return true;
}

bool removeParted(CredentialBlobs& blobs, const std::u16string& target)
{
    bool removed = blobs.erase(target);
    for (int part = 1; part <= kMostParts; ++part) {
        removed = blobs.erase(partName(target, 'a', part)) || removed;
        removed = blobs.erase(partName(target, 'b', part)) || removed;
        if (part > 1)
            removed = blobs.erase(legacyPart(target, part)) || removed;
    }
    return removed;
}

} // namespace qel::mail
