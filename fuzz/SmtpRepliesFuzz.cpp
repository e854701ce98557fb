// Whatever a server replies, in whatever pieces, the dialogue ends with a
// code of its table and reads nothing beyond what arrived.
#include <cstdlib>

#include "mail/MessageStream.h"
#include "mail/SmtpSession.h"

namespace {

using namespace qel::mail;

// Hands out the input in pieces whose sizes the input's first bytes choose.
class FuzzedServer : public SmtpTransport {
public:
    FuzzedServer(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    MailCode connect(const std::string&, const std::string&, Deadline, Deadline) override { return Ok; }
    MailCode send(std::string_view, Deadline) override { return Ok; }
    MailCode receive(std::string& into, Deadline) override
    {
        if (offset_ >= size_)
            return (size_ & 1) ? NoReplyInTime : ConnectionDropped;
        const std::size_t piece = std::min<std::size_t>(1 + data_[offset_] % 64, size_ - offset_);
        into.append(reinterpret_cast<const char*>(data_ + offset_), piece);
        offset_ += piece;
        return Ok;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedServer server(data, size);
    const Envelope envelope{"me@example.com", {"a@example.com", "b@example.com"}};
    OutgoingMail mail;
    MessageStream message(mail, "d", "id", "b");
    DeliveryOptions options;
    options.domain = "client";
    const MailCode code = deliver(server, ServerAddress{"host", "25"}, envelope, message, options);
    switch (code) {
    case Ok: case SenderRejected: case RecipientRejected: case ConnectionDropped: case UnexpectedReply: case NoReplyInTime:
    case ConversationRefused: case MessageNotFormed:
        return 0;
    default:
        std::abort();
    }
}
