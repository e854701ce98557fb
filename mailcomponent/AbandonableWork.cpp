#include "mailcomponent/UniqueHandle.h" // Winsock before <windows.h>

#include "mailcomponent/AbandonableWork.h"

#include <algorithm>
#include <memory>

namespace qel::mailcomponent {

namespace {

enum : LONG { Running, Done, Abandoned };

// Shared by the caller and the thread; whichever lets go last frees it.
struct Job {
    std::function<void()> work;
    LONG* abandoned;
    UniqueKernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    LONG state = Running;
};

DWORD WINAPI runJob(void* argument)
{
    {
        const std::unique_ptr<std::shared_ptr<Job>> held(static_cast<std::shared_ptr<Job>*>(argument));
        Job& job = **held;
        job.work();
        if (InterlockedCompareExchange(&job.state, Done, Running) == Abandoned)
            InterlockedDecrement(job.abandoned);
        SetEvent(job.done.get());
    }
    // Lets go of the reference the starter took for this thread, from outside the DLL's code.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&runJob), &self);
    FreeLibraryAndExitThread(self, 0);
}

} // namespace

AbandonableWork::Outcome AbandonableWork::run(std::function<void()> work, mail::Deadline deadline)
{
    auto* const counter = reinterpret_cast<LONG*>(&abandoned_);
    if (InterlockedCompareExchange(counter, 0, 0) >= most_)
        return Busy;
    auto job = std::make_shared<Job>(Job{std::move(work), counter});
    HMODULE module = nullptr;
    if (!job->done.valid()
        || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&runJob), &module))
        return NoThread;
    ModuleReference self(module);
    auto forThread = std::make_unique<std::shared_ptr<Job>>(job);
    const UniqueKernelHandle thread(CreateThread(nullptr, 0, runJob, forThread.get(), 0, nullptr));
    if (!thread.valid())
        return NoThread;
    self.release(); // both the thread's now
    forThread.release();
    const auto waitMs = std::min<long long>(deadline.remaining().count(), INFINITE - 1);
    if (WaitForSingleObject(job->done.get(), static_cast<DWORD>(waitMs)) == WAIT_OBJECT_0)
        return Finished;
    InterlockedIncrement(counter);
    if (InterlockedCompareExchange(&job->state, Abandoned, Running) == Done) {
        InterlockedDecrement(counter); // it ended just now after all
        return Finished;
    }
    return TimedOut;
}

} // namespace qel::mailcomponent
