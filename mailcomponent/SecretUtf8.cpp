#include "mailcomponent/SecretUtf8.h"

namespace qel::mailcomponent {

void appendUtf8(const wchar_t* text, std::size_t length, mail::SecretText& out)
{
    const int units = static_cast<int>(length);
    const int size = units > 0 ? WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr) : 0;
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, units, out.extend(static_cast<std::size_t>(size)), size, nullptr, nullptr);
}

} // namespace qel::mailcomponent
