#include <gtest/gtest.h>

#include "support/TestBytes.h"
#include "textcrypt/HexPairs.h"

namespace qel::textcrypt {
namespace {

using test::errorNumberOf;

TEST(HexPairsTest, DecodesEitherCase)
{
    EXPECT_EQ(decodeHexPairs(u"00ff7Fa0"), (std::vector<std::uint8_t>{0x00, 0xFF, 0x7F, 0xA0}));
    EXPECT_EQ(decodeHexPairs(u"0a"), decodeHexPairs(u"0A"));
}

TEST(HexPairsTest, FirstBadPairDecides)
{
    struct Case {
        std::u16string text;
        int error;
    };
    const std::vector<Case> cases{
        {u"", 9},       {u"A", 9},      {u"ABC", 9},    {u"0G", 13},  {u"ZZ1", 13}, {u"00G", 9},
        {u"0G1", 13},   {u"A ", 13},    {u" A", 13},    {u"+1", 13},  {u"0x", 13},
        {u"\uFF11\uFF12", 13}, // full-width digits are not hexadecimal digits
        {std::u16string(u"0\0", 2), 13},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorNumberOf([&] { decodeHexPairs(c.text); }), c.error) << std::string(c.text.begin(), c.text.end());
}

TEST(HexPairsTest, EncodesUppercaseWithLeadingZeros)
{
    std::u16string out = u"x";
    appendHexPairs(std::vector<std::uint8_t>{0x00, 0x0A, 0xFF, 0x5C}, out);
    EXPECT_EQ(out, u"x000AFF5C");
}

} // namespace
} // namespace qel::textcrypt
