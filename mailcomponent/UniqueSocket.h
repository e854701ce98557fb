#pragma once
// Owns one Winsock socket; closed when it goes.
#include <winsock2.h>

#include <utility>

namespace qel::mailcomponent {

class UniqueSocket {
public:
    UniqueSocket() = default;
    explicit UniqueSocket(SOCKET s) : socket_(s) {}
    ~UniqueSocket() { reset(); }
    UniqueSocket(UniqueSocket&& other) noexcept : socket_(std::exchange(other.socket_, INVALID_SOCKET)) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept
    {
        if (this != &other) {
            reset();
            socket_ = std::exchange(other.socket_, INVALID_SOCKET);
        }
        return *this;
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;

    SOCKET get() const { return socket_; }
    bool valid() const { return socket_ != INVALID_SOCKET; }
    void reset()
    {
        if (socket_ != INVALID_SOCKET)
            closesocket(std::exchange(socket_, INVALID_SOCKET));
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
};

} // namespace qel::mailcomponent
