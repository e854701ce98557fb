#include "mail/DotStuffer.h"

namespace qel::mail {

void DotStuffer::add(std::string_view piece, std::string& out)
{
    for (char c : piece) {
        if (lineStart_ && c == '.')
            out += '.';
        out += c;
        lineStart_ = c == '\n';
        endsWithCrLf_ = lastWasCr_ && c == '\n';
        lastWasCr_ = c == '\r';
    }
    empty_ = empty_ && piece.empty();
}

void DotStuffer::finish(std::string& out)
{
    if (!empty_ && !endsWithCrLf_)
        out += "\r\n";
    out += ".\r\n";
}

} // namespace qel::mail
