#pragma once
// One e-mail as the mail component collects it, in UTF-16 as hosts give it.
#include <memory>
#include <string>
#include <vector>

#include "mail/ByteSource.h"

namespace qel::mail {

struct MailAddress {
    std::u16string address;
    std::u16string name;
};

struct Attachment {
    std::u16string fileName; // without folders
    std::shared_ptr<ByteSource> content; // read only while the message is sent
};

struct OutgoingMail {
    MailAddress from;
    std::vector<MailAddress> to;
    std::u16string subject;
    std::u16string body;
    std::vector<Attachment> attachments;
};

} // namespace qel::mail
