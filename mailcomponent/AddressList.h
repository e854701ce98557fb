#pragma once
// The addresses getaddrinfo gave, owned; freed when it goes.
#include "mailcomponent/UniqueSocket.h"

namespace qel::mailcomponent {

class AddressList {
public:
    AddressList() = default;
    explicit AddressList(addrinfo* first) : first_(first) {}

    const addrinfo* first() const { return first_.get(); }
    std::size_t count() const
    {
        std::size_t n = 0;
        for (const addrinfo* a = first(); a; a = a->ai_next)
            ++n;
        return n;
    }

private:
    UniqueAddressInfo first_;
};

} // namespace qel::mailcomponent
