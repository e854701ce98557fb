#include "crypt/ByteArray.h"

#include "common/NumberedError.h"

namespace qel::crypt {

namespace {

// Offset of entry `first` when entries first..first+n-1 all lie within the
// array, else error 9. Works in 64 bits so no index arithmetic can wrap.
std::size_t checkedOffset(std::int32_t lowerBound, std::size_t count, std::int64_t first, std::size_t n)
{
    const std::int64_t offset = first - lowerBound;
    if (offset < 0 || static_cast<std::uint64_t>(offset) > count || n > count - static_cast<std::size_t>(offset))
        raise(ErrorNumber::SubscriptOutOfRange);
    return static_cast<std::size_t>(offset);
}

} // namespace

std::span<const std::uint8_t> ByteArrayView::range(std::int64_t first, std::size_t n) const
{
    if (!hasStorage_)
        raise(ErrorNumber::SubscriptOutOfRange);
    return entries_.subspan(checkedOffset(lowerBound_, entries_.size(), first, n), n);
}

std::span<std::uint8_t> ByteArray::range(std::int64_t first, std::size_t n)
{
    if (!hasStorage_)
        raise(ErrorNumber::SubscriptOutOfRange);
    return std::span(entries_).subspan(checkedOffset(lowerBound_, entries_.size(), first, n), n);
}

} // namespace qel::crypt
