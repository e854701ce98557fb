// Writes tests/textcrypt/LegacyKnownAnswers.h: the legacy encrypted form of a
// few texts, made with libmcrypt's rijndael-256 alone (ECB over the frame: a
// 4-byte little-endian length, the UTF-16LE text bytes, zero padding to whole
// 32-byte blocks; the key is the pass phrase's first 16 characters in
// UTF-16LE). The Windows builds compare with it, where libmcrypt is absent.
//   qel_make_legacy_known_answers > tests/textcrypt/LegacyKnownAnswers.h
#include <mcrypt.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string hexOf(const std::vector<std::uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::uint8_t b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

std::string escaped(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) {
        char unit[8];
        std::snprintf(unit, sizeof unit, "\\x%04X", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

std::string legacyForm(const std::u16string& text)
{
    std::vector<std::uint8_t> frame(4);
    const std::uint32_t length = static_cast<std::uint32_t>(2 * text.size());
    for (int i = 0; i < 4; ++i)
        frame[i] = static_cast<std::uint8_t>(length >> (8 * i));
    for (char16_t c : text) {
        frame.push_back(static_cast<std::uint8_t>(c));
        frame.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    frame.resize((frame.size() + 31) / 32 * 32, 0);
    std::vector<std::uint8_t> key;
    for (char c : std::string("mr4ta9zk2qc7wx5n")) {
        key.push_back(static_cast<std::uint8_t>(c));
        key.push_back(0);
    }
    MCRYPT td = mcrypt_module_open(const_cast<char*>("rijndael-256"), nullptr, const_cast<char*>("ecb"), nullptr);
    if (td == MCRYPT_FAILED || mcrypt_generic_init(td, key.data(), 32, nullptr) != 0) {
        std::fprintf(stderr, "libmcrypt has no rijndael-256\n");
        std::exit(1);
    }
    mcrypt_generic(td, frame.data(), static_cast<int>(frame.size()));
    mcrypt_generic_deinit(td);
    mcrypt_module_close(td);
    return hexOf(frame);
}

} // namespace

int main()
{
    const std::vector<std::u16string> texts{
        u"a",                                   // one block
        u"Hello, world",
        u"fifteen chars!!",                     // the first text of two blocks
        u"K\u00E9y \U0001F511 \u4E2D\u6587",    // no code page takes part
        std::u16string(u"nul\0inside", 10),
        u"The quick brown fox jumps over the lazy dog 123", // four blocks
    };
    std::printf("#pragma once\n// Made by tests/reference/MakeLegacyKnownAnswers.cpp with libmcrypt; do not edit.\n");
    std::printf("#include <string_view>\n\nnamespace qel::test {\n\n");
    std::printf("struct LegacyKnownAnswer {\n    std::u16string_view text;\n    std::u16string_view hex;\n};\n\n");
    std::printf("inline constexpr LegacyKnownAnswer kLegacyKnownAnswers[] = {\n");
    for (const std::u16string& text : texts)
        std::printf("    {std::u16string_view(u\"%s\", %zu),\n     u\"%s\"},\n", escaped(text).c_str(), text.size(),
                    legacyForm(text).c_str());
    std::printf("};\n\n} // namespace qel::test\n");
}
