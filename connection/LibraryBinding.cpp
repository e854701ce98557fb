#include "connection/LibraryBinding.h"

#include "connection/AnsiText.h"
#include "connection/ObjectError.h"

namespace qel::connection {

namespace {

constexpr std::int32_t kFileNotFound = 53;
constexpr std::int32_t kEntryPointNotFound = 453;

} // namespace

LibraryBinding::LibraryBinding(std::string libraryName) : libraryName_(std::move(libraryName)) {}

FARPROC LibraryBinding::function(const char* functionName)
{
    std::lock_guard<std::mutex> held(lock_);
    if (const auto bound = functions_.find(functionName); bound != functions_.end())
        return bound->second;
    if (!module_) {
        module_ = ::LoadLibraryA(libraryName_.c_str());
        if (!module_)
            throw ObjectError(kFileNotFound, ObjectError::kComponentSource,
                              L"File not found: " + textFromAnsi(libraryName_));
    }
    const FARPROC entry = ::GetProcAddress(module_, functionName);
    if (!entry)
        throw ObjectError(kEntryPointNotFound, ObjectError::kComponentSource,
                          L"Can't find DLL entry point " + textFromAnsi(functionName) + L" in " +
                              textFromAnsi(libraryName_));
    functions_.emplace(functionName, entry);
    return entry;
}

LibraryBinding& LibraryBinding::internetLibrary()
{
    static LibraryBinding* const library = new LibraryBinding("wininet.dll");
    return *library;
}

LibraryBinding& LibraryBinding::systemLibrary()
{
    static LibraryBinding* const library = new LibraryBinding("kernel32.dll");
    return *library;
}

} // namespace qel::connection
