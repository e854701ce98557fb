#pragma once
// Byte arrays as a host sees them: without storage (never dimensioned),
// dimensioned with no entries, or with entries from a lower bound on.
// ByteArrayView lets the COM layer lend a SAFEARRAY's data without a copy;
// ByteArray owns its entries and is what the cipher hands back.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qel::crypt {

class ByteArrayView {
public:
    // Without storage.
    constexpr ByteArrayView() = default;
    constexpr ByteArrayView(std::span<const std::uint8_t> entries, std::int32_t lowerBound = 0)
        : entries_(entries), lowerBound_(lowerBound), hasStorage_(true)
    {
    }

    bool hasStorage() const { return hasStorage_; }
    std::int32_t lowerBound() const { return lowerBound_; }
    // lowerBound - 1 when there are no entries; 64-bit so no bound overflows.
    std::int64_t upperBound() const
    {
        return std::int64_t{lowerBound_} + static_cast<std::int64_t>(entries_.size()) - 1;
    }
    std::size_t count() const { return entries_.size(); }

    // Entries first to first + n - 1 by index; error 9 unless all exist.
    std::span<const std::uint8_t> range(std::int64_t first, std::size_t n) const;
    std::uint8_t at(std::int64_t index) const { return range(index, 1)[0]; }

private:
    std::span<const std::uint8_t> entries_;
    std::int32_t lowerBound_ = 0;
    bool hasStorage_ = false;
};

class ByteArray {
public:
    // Without storage.
    ByteArray() = default;
    explicit ByteArray(std::vector<std::uint8_t> entries, std::int32_t lowerBound = 0)
        : entries_(std::move(entries)), lowerBound_(lowerBound), hasStorage_(true)
    {
    }
    static ByteArray dimensionedEmpty() { return ByteArray(std::vector<std::uint8_t>{}); }

    bool hasStorage() const { return hasStorage_; }
    ByteArrayView view() const
    {
        return hasStorage_ ? ByteArrayView(entries_, lowerBound_) : ByteArrayView();
    }
    std::span<std::uint8_t> range(std::int64_t first, std::size_t n);
    const std::vector<std::uint8_t>& entries() const { return entries_; }
    std::vector<std::uint8_t> release() { hasStorage_ = false; return std::move(entries_); }

private:
    std::vector<std::uint8_t> entries_;
    std::int32_t lowerBound_ = 0;
    bool hasStorage_ = false;
};

} // namespace qel::crypt
