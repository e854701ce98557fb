#pragma once
// An attachment read from its file while the message is sent. The file is
// opened when it is attached and held, shared for reading only, until the
// mail component lets go: what was checked is what is sent, and nobody can
// change it in between.
#include "mailcomponent/UniqueHandle.h"

#include <memory>
#include <string>

#include "mail/ByteSource.h"
#include "mail/MailCodes.h"

namespace qel::mailcomponent {

class FileByteSource final : public mail::ByteSource {
public:
    static constexpr std::uint64_t kMaxBytes = 256ull * 1024 * 1024;

    // FileNotOpened for a path with NUL or a control character (refused before
    // anything is opened) or one that cannot be opened; MessageNotFormed for a
    // file over kMaxBytes; FileNotRead when its size cannot be read.
    static mail::MailCode open(const std::u16string& path, std::shared_ptr<FileByteSource>& out);

    FileByteSource(UniqueFileHandle file, std::uint64_t size) : file_(std::move(file)), size_(size) {}
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, std::uint8_t* into, std::size_t count, std::size_t& got) override;

private:
    UniqueFileHandle file_;
    std::uint64_t size_;
};

} // namespace qel::mailcomponent
