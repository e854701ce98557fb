#pragma once
// The raw bytes under TLS: what the TLS layer needs of a connected socket.
#include <string>
#include <string_view>

#include "mail/Deadline.h"
#include "mail/MailCodes.h"

namespace qel::mailcomponent {

class ByteChannel {
public:
    virtual ~ByteChannel() = default;
    virtual mail::MailCode sendRaw(std::string_view bytes, mail::Deadline deadline) = 0;
    // Appends what arrived: ConnectionDropped when the peer closed, NoReplyInTime past the deadline.
    virtual mail::MailCode receiveRaw(std::string& into, mail::Deadline deadline) = 0;
};

} // namespace qel::mailcomponent
