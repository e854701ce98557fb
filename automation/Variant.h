#pragma once
// RAII for the automation types, each owning exactly one resource. Move-only;
// `release` hands ownership out, `receive` takes an out-parameter's result.
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace qel::automation {

class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::u16string_view text);
    // The bytes as they are, an odd count included (a BSTR of odd byte length).
    static Bstr fromBytes(std::span<const std::uint8_t> bytes);
    ~Bstr() { SysFreeString(value_); }
    Bstr(Bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept
    {
        std::swap(value_, other.value_);
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return value_; }
    BSTR release() { return std::exchange(value_, nullptr); }

private:
    BSTR value_ = nullptr;
};

class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
    Variant& operator=(Variant&& other) noexcept
    {
        std::swap(value_, other.value_);
        return *this;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    // A copy of the value behind `source`, following by-reference variants.
    static Variant copyOf(const VARIANT& source);
    static Variant ofText(std::u16string_view text);
    static Variant ofBstr(Bstr text);
    static Variant ofInteger(std::int16_t number);

    const VARIANT& get() const { return value_; }
    // Cleared, for use as an out-parameter.
    VARIANT* receive()
    {
        VariantClear(&value_);
        return &value_;
    }
    // Moves the value into an out-parameter the caller owns.
    void release(VARIANT* out)
    {
        *out = value_;
        VariantInit(&value_);
    }
    // A copy of the value into an out-parameter the caller owns.
    HRESULT copyTo(VARIANT* out) const;

private:
    VARIANT value_;
};

// The data of a SAFEARRAY, locked while this lives.
class SafeArrayAccess {
public:
    explicit SafeArrayAccess(SAFEARRAY* array);
    ~SafeArrayAccess();
    SafeArrayAccess(const SafeArrayAccess&) = delete;
    SafeArrayAccess& operator=(const SafeArrayAccess&) = delete;

    const void* data() const { return data_; }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

} // namespace qel::automation
