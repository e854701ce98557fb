#pragma once
// One platform library whose functions are bound by name on first use. The
// library stays loaded for the life of the process once bound, so the
// production bindings are process-wide and never freed.
#include <windows.h>

#include <map>
#include <mutex>
#include <string>

namespace qel::connection {

class LibraryBinding {
public:
    explicit LibraryBinding(std::string libraryName);
    LibraryBinding(const LibraryBinding&) = delete;
    LibraryBinding& operator=(const LibraryBinding&) = delete;

    // Throws ObjectError 53 when the library cannot be loaded and 453 when it
    // lacks the function, with the texts a Visual Basic Declare gives.
    FARPROC function(const char* functionName);

    static LibraryBinding& internetLibrary();
    static LibraryBinding& systemLibrary();

private:
    const std::string libraryName_;
    std::mutex lock_; // apartment objects on several threads may bind at once
    HMODULE module_ = nullptr;
    std::map<std::string, FARPROC, std::less<>> functions_;
};

} // namespace qel::connection
