#pragma once
// The opt-in trace of Send, for whoever set a host up and cannot see
// ErrorDetail: each Send appends one block (a header, the dialogue line by
// line, the result) to the file named by the TraceFile value. A block is
// collected in memory and appended whole under a mutex named for the file,
// so apartments and processes never interleave. Nothing here ever changes
// what Send answers: a file that cannot be written loses its block.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "mail/DeliveryObserver.h"

namespace qel::mailcomponent {

// The TraceFile value under HKCU, then HKLM, Software\Qel\QelSmtp (REG_SZ or
// REG_EXPAND_SZ, expanded); empty when neither is set.
std::wstring traceFileSetting();

// A file that never grows past `mostBytes`: a block that would take it
// past turns it into "<path>.1" (replacing the one before) and starts it anew.
class TraceFile {
public:
    static constexpr std::uint64_t kMostBytes = 4 * 1024 * 1024;

    explicit TraceFile(std::wstring path, std::uint64_t mostBytes = kMostBytes);
    // False when the block could not be written; never throws.
    bool append(std::string_view block) const noexcept;

private:
    std::wstring path_;
    std::uint64_t mostBytes_;
};

class SendTrace final : public mail::DeliveryObserver {
public:
    // Null when no TraceFile is set (or it cannot be read).
    static std::unique_ptr<SendTrace> fromSetting() noexcept;

    explicit SendTrace(TraceFile file);
    void line(std::string_view text) noexcept override;
    // Appends the block: the header (time, process, thread, `server` and
    // `account`), the lines, and the result. Never throws.
    void finish(long code, std::string_view detail, std::string_view server, std::string_view account) noexcept;

private:
    TraceFile file_;
    std::string started_; // UTC, as text
    std::chrono::steady_clock::time_point start_;
    std::string lines_;
};

} // namespace qel::mailcomponent
