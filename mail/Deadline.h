#pragma once
// An absolute point in time that a step of the dialogue must finish by.
// Waits take the time left rather than a fixed timeout, so a peer that
// trickles bytes cannot stretch a step by restarting its clock.
#include <algorithm>
#include <chrono>

namespace qel::mail {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    static Deadline in(std::chrono::milliseconds from_now) { return Deadline(Clock::now() + from_now); }
    static Deadline at(Clock::time_point when) { return Deadline(when); }
    static Deadline earliest(Deadline a, Deadline b) { return Deadline(std::min(a.when_, b.when_)); }

    bool passed() const { return Clock::now() >= when_; }
    // Rounded up, so a wait for it never ends just short and spins; zero once passed.
    std::chrono::milliseconds remaining() const
    {
        const auto left = when_ - Clock::now();
        return left <= Clock::duration::zero() ? std::chrono::milliseconds(0)
                                               : std::chrono::ceil<std::chrono::milliseconds>(left);
    }
    Clock::time_point when() const { return when_; }

private:
    explicit Deadline(Clock::time_point when) : when_(when) {}
    Clock::time_point when_;
};

} // namespace qel::mail
