#pragma once
// An SMTP server in a script, for tests of the dialogue and of what drives it.
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "mail/SmtpSession.h"

namespace qel::mail {

// Answers each command with the next scripted reply; an empty reply means
// "close the connection", "..." means "say nothing". With `trickle` it hands
// out one byte per receive. Records the deadline of every wait.
class ScriptedServer : public SmtpTransport {
public:
    explicit ScriptedServer(std::deque<std::string> replies) : replies_(std::move(replies)) {}
    MailCode connect(const std::string& host, const std::string& port, Deadline, Deadline) override
    {
        connectedTo = host + ":" + port;
        connectedAt = Deadline::Clock::now();
        return connectResult;
    }
    MailCode send(std::string_view bytes, Deadline) override
    {
        if (writes.size() >= dropOnWrite)
            return ConnectionDropped;
        sent += bytes;
        writes.emplace_back(bytes);
        return Ok;
    }
    MailCode receive(std::string& into, Deadline deadline) override
    {
        receiveDeadlines.push_back({replies_.size(), deadline.when()});
        if (replies_.empty() || replies_.front().empty())
            return ConnectionDropped;
        if (replies_.front() == "...")
            return NoReplyInTime;
        if (trickle && replies_.front().size() > 1) {
            into += replies_.front()[0];
            replies_.front().erase(0, 1);
            return Ok;
        }
        into += replies_.front();
        replies_.pop_front();
        return Ok;
    }
    MailCode startTls(Deadline) override
    {
        sent += "<TLS>";
        return tlsResult;
    }
    std::string failureDetail() const override { return tlsDetail; }
    bool quiet() const override { return quietLine; }
    MailCode connectResult = Ok;
    bool quietLine = true;
    MailCode tlsResult = Ok;
    std::string tlsDetail;
    bool trickle = false;
    // The write of this index, and every one after it, finds the connection closed.
    std::size_t dropOnWrite = SIZE_MAX;
    std::string connectedTo;
    std::string sent;
    std::vector<std::string> writes;
    Deadline::Clock::time_point connectedAt;
    // Replies still unread at each wait, and that wait's deadline.
    std::vector<std::pair<std::size_t, Deadline::Clock::time_point>> receiveDeadlines;

private:
    std::deque<std::string> replies_;
};

} // namespace qel::mail
