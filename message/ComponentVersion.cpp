#include "message/ComponentVersion.h"

#include <windows.h>

#include <vector>

#include "automation/ComModule.h"
#include "automation/ErrorReporting.h"

namespace qel::message {

std::u16string componentVersion()
{
    const HMODULE module = automation::ComModule::instance().handle();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        throw automation::ComFailure(HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND));
    // VerQueryValue may write into the block it reads; it gets a copy.
    const auto* bytes = static_cast<const char*>(data);
    std::vector<char> block(bytes, bytes + SizeofResource(module, found));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &size) || size < sizeof *info)
        throw automation::ComFailure(HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND));
    const auto text = [](unsigned number) {
        const std::string digits = std::to_string(number);
        return std::u16string(digits.begin(), digits.end());
    };
    return text(HIWORD(info->dwFileVersionMS)) + u"." + text(LOWORD(info->dwFileVersionMS)) + u"."
        + text(LOWORD(info->dwFileVersionLS));
}

} // namespace qel::message
