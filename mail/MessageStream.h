#pragma once
// A composed message as the data of DATA, made while it is sent: attachment
// content is read and encoded one piece at a time, so the memory a send
// needs does not grow with the attachments.
#include <cstdint>
#include <string>
#include <vector>

#include "mail/SmtpSession.h"
#include "mail/OutgoingMail.h"

namespace qel::mail {

class MessageStream final : public MessageData {
public:
    // Raw bytes read per piece: 1,024 base64 lines.
    static constexpr std::size_t kPieceBytes = 57 * 1024;

    // `mail` must have passed validate() and outlive the stream.
    MessageStream(const OutgoingMail& mail, const std::string& date, const std::string& messageId,
                  const std::string& boundary);

    std::uint64_t size() const override { return size_; }
    MailCode next(std::string& piece) override;
    void rewind() override
    {
        segment_ = 0;
        offset_ = 0;
    }

private:
    struct Segment {
        std::string text;
        ByteSource* content = nullptr; // encoded in pieces instead of `text`
    };
    std::vector<Segment> segments_;
    std::uint64_t size_ = 0;
    std::size_t segment_ = 0;
    std::uint64_t offset_ = 0;
    std::vector<std::uint8_t> buffer_;
};

// The whole message in memory, for tests and checks.
std::string composeMessage(const OutgoingMail& mail, const std::string& date, const std::string& messageId,
                           const std::string& boundary);

} // namespace qel::mail
