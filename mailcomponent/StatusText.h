#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace qel::mailcomponent {

// A Windows status or error code as reports quote it: 0x80090326.
inline std::string statusText(std::uint32_t code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

} // namespace qel::mailcomponent
