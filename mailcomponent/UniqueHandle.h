#pragma once
// One owner for every kind of handle the mail component holds, told apart
// by a traits type: Handle, invalid() and close(Handle). Ownership is taken
// in one step (the constructor or reset), from a local that the platform
// call filled, so no handle is ever half-owned. Traits may carry state (the
// SSPI function table that frees a handle). Move-only.
#include <winsock2.h> // Winsock before <windows.h>, whoever includes this first

#include <utility>

namespace qel::mailcomponent {

template <typename Traits>
class UniqueHandle : private Traits {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Traits traits) : Traits(std::move(traits)) {}
    explicit UniqueHandle(Handle handle, Traits traits = {}) : Traits(std::move(traits)), handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : Traits(other), handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
            static_cast<Traits&>(*this) = other;
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    bool valid() const { return Traits::isValid(handle_); }
    const Handle& get() const { return handle_; }
    // For the calls that take a pointer to the handle (SSPI's CtxtHandle*).
    Handle* pointer() { return valid() ? &handle_ : nullptr; }
    void reset(Handle handle = Traits::invalid())
    {
        if (Traits::isValid(handle_))
            Traits::close(handle_);
        handle_ = handle;
    }
    Handle release() { return std::exchange(handle_, Traits::invalid()); }

private:
    Handle handle_ = Traits::invalid();
};

// A handle that is invalid as a null or a single sentinel value.
template <typename H, H Invalid>
struct SentinelTraits {
    using Handle = H;
    static Handle invalid() { return Invalid; }
    static bool isValid(Handle h) { return h != Invalid; }
};

struct KernelHandleTraits : SentinelTraits<HANDLE, nullptr> {
    static void close(HANDLE h) { CloseHandle(h); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

// CreateFile's failure is INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle invalid() { return INVALID_HANDLE_VALUE; }
    static bool isValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;

// A reference on a module (LoadLibrary, GetModuleHandleEx without UNCHANGED_REFCOUNT).
struct ModuleTraits : SentinelTraits<HMODULE, nullptr> {
    static void close(HMODULE h) { FreeLibrary(h); }
};
using ModuleReference = UniqueHandle<ModuleTraits>;

} // namespace qel::mailcomponent
