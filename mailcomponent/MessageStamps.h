#pragma once
// What a message is stamped with as it goes: its date (RFC 5322, UTC), a
// Message-ID unique on this machine, and a MIME boundary of the same token.
#include <string>

namespace qel::mailcomponent {

struct MessageStamps {
    std::string date, messageId, boundary;
};

MessageStamps stampsForNow();

} // namespace qel::mailcomponent
