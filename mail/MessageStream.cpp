#include "mail/MessageStream.h"

#include "mail/MimeWriter.h"

namespace qel::mail {

MessageStream::MessageStream(const OutgoingMail& mail, const std::string& date, const std::string& messageId,
                             const std::string& boundary)
{
    segments_.push_back({messageHead(mail, date, messageId, boundary)});
    for (const Attachment& attachment : mail.attachments) {
        segments_.push_back({attachmentHead(attachment, boundary)});
        segments_.push_back({std::string(), attachment.content.get()});
    }
    segments_.push_back({messageTail(mail, boundary)});
    for (const Segment& segment : segments_)
        size_ += segment.content ? base64LinesSize(segment.content->size()) : segment.text.size();
}

MailCode MessageStream::next(std::string& piece)
{
    piece.clear();
    while (piece.empty() && segment_ < segments_.size()) {
        const Segment& segment = segments_[segment_];
        if (!segment.content) {
            piece = segment.text;
            ++segment_;
            continue;
        }
        const std::uint64_t total = segment.content->size();
        if (offset_ >= total) {
            offset_ = 0;
            ++segment_;
            continue;
        }
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, total - offset_));
        buffer_.resize(kPieceBytes);
        std::size_t got = 0;
        // A short read would break the line structure and the declared size.
        if (!segment.content->readAt(offset_, buffer_.data(), wanted, got) || got != wanted)
            return FileNotRead;
        appendBase64Lines(buffer_.data(), got, piece);
        offset_ += got;
    }
    return Ok;
}

std::string composeMessage(const OutgoingMail& mail, const std::string& date, const std::string& messageId,
                           const std::string& boundary)
{
    MessageStream stream(mail, date, messageId, boundary);
    std::string message, piece;
    while (stream.next(piece) == Ok && !piece.empty())
        message += piece;
    return message;
}

} // namespace qel::mail
