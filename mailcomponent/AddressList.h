#pragma once
// Owns the result of getaddrinfo; freed when it goes.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <utility>

namespace qel::mailcomponent {

class AddressList {
public:
    AddressList() = default;
    explicit AddressList(addrinfo* first) : first_(first) {}
    ~AddressList() { reset(); }
    AddressList(AddressList&& other) noexcept : first_(std::exchange(other.first_, nullptr)) {}
    AddressList& operator=(AddressList&& other) noexcept
    {
        if (this != &other) {
            reset();
            first_ = std::exchange(other.first_, nullptr);
        }
        return *this;
    }
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;

    const addrinfo* first() const { return first_; }
    std::size_t count() const
    {
        std::size_t n = 0;
        for (const addrinfo* a = first_; a; a = a->ai_next)
            ++n;
        return n;
    }
    void reset()
    {
        if (first_)
            freeaddrinfo(std::exchange(first_, nullptr));
    }

private:
    addrinfo* first_ = nullptr;
};

} // namespace qel::mailcomponent
