#pragma once
// Work that may block past any deadline and cannot be cancelled (a WinHTTP
// exchange, whose waits Wine does not shorten once the handshake is done):
// it runs on a thread of its own that the caller waits for until the
// deadline and then abandons. The thread holds this DLL, so the code it runs
// stays mapped until it has left it; the work must own all it touches. While
// `most` threads of one kind still run abandoned, new work is refused at once.
#include <functional>

#include "mail/Deadline.h"

namespace qel::mailcomponent {

class AbandonableWork {
public:
    // Busy: `most` still run abandoned; NoThread: none could be had.
    enum Outcome { Finished, TimedOut, Busy, NoThread };

    explicit AbandonableWork(long most) : most_(most) {}

    Outcome run(std::function<void()> work, mail::Deadline deadline);

private:
    const long most_;
    long abandoned_ = 0; // interlocked
};

} // namespace qel::mailcomponent
