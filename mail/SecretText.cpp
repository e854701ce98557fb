#include "mail/SecretText.h"

namespace qel::mail {

void wipe(void* bytes, std::size_t count)
{
    volatile char* p = static_cast<volatile char*>(bytes);
    while (count--)
        *p++ = 0;
}

SecretText::SecretText(std::string_view text)
{
    append(text);
}

SecretText::SecretText(SecretText&& other) noexcept
{
    *this = std::move(other);
}

SecretText& SecretText::operator=(SecretText&& other) noexcept
{
    if (this != &other) {
        clear();
        // Swapping moves heap buffers without copying; a short text held
        // inside the object is copied, so the other side is wiped below.
        text_.swap(other.text_);
        other.clear();
    }
    return *this;
}

SecretText::~SecretText()
{
    clear();
}

void SecretText::reserve(std::size_t size)
{
    if (size <= text_.capacity())
        return;
    std::string larger;
    larger.reserve(size < 2 * text_.capacity() ? 2 * text_.capacity() : size);
    larger.append(text_);
    clear();
    text_.swap(larger);
}

void SecretText::append(std::string_view text)
{
    reserve(text_.size() + text.size());
    text_.append(text);
}

char* SecretText::extend(std::size_t count)
{
    reserve(text_.size() + count);
    const std::size_t start = text_.size();
    text_.resize(start + count);
    return text_.data() + start;
}

void SecretText::clear()
{
    wipe(text_.data(), text_.capacity());
    text_.clear();
}

} // namespace qel::mail
