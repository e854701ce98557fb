#pragma once
// Dot-stuffing (RFC 5321 4.5.2) of a message that arrives in pieces: a line
// may start in one piece and go on in the next.
#include <string>
#include <string_view>

namespace qel::mail {

class DotStuffer {
public:
    // Appends `piece` to `out` with every dot that starts a line doubled.
    void add(std::string_view piece, std::string& out);
    // Appends the end of the data: CRLF when the message did not end with one, then ".CRLF".
    void finish(std::string& out);

private:
    bool lineStart_ = true;
    bool endsWithCrLf_ = false;
    bool lastWasCr_ = false;
    bool empty_ = true;
};

} // namespace qel::mail
