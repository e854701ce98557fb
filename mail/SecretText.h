#pragma once
// Text that holds a secret (a password, or anything made from one). Its
// memory is wiped when it is cleared, replaced, grown or destroyed, and it is
// never copied by accident: a std::string that grows leaves the old bytes
// behind in freed memory, so this one grows by copying and wiping itself.
#include <cstddef>
#include <string>
#include <string_view>

namespace qel::mail {

class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::string_view text);
    SecretText(SecretText&& other) noexcept;
    SecretText& operator=(SecretText&& other) noexcept;
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText();

    void append(std::string_view text);
    // Room for `count` more bytes at the end, to be filled by the caller.
    char* extend(std::size_t count);
    // Wipes the bytes and keeps the buffer.
    void clear();

    std::string_view view() const { return text_; }
    bool empty() const { return text_.empty(); }

private:
    void reserve(std::size_t size);
    std::string text_;
};

// Wipes bytes in a way the compiler may not leave out.
void wipe(void* bytes, std::size_t count);

} // namespace qel::mail
