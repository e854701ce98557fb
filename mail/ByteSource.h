#pragma once
// Where an attachment's bytes come from: read in pieces at any offset, so a
// message can be sent again without keeping a copy.
#include <cstddef>
#include <cstdint>

namespace qel::mail {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills `into` with up to `count` bytes from `offset`; false when they cannot be read.
    virtual bool readAt(std::uint64_t offset, std::uint8_t* into, std::size_t count, std::size_t& got) = 0;
};

} // namespace qel::mail
