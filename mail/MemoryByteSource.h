#pragma once
// Attachment bytes already in memory.
#include <algorithm>
#include <vector>

#include "mail/ByteSource.h"

namespace qel::mail {

class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool readAt(std::uint64_t offset, std::uint8_t* into, std::size_t count, std::size_t& got) override
    {
        got = offset >= bytes_.size() ? 0 : std::min<std::size_t>(count, bytes_.size() - static_cast<std::size_t>(offset));
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(offset, bytes_.size())), got, into);
        return true;
    }

private:
    std::vector<std::uint8_t> bytes_;
};

} // namespace qel::mail
