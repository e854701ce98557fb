// Round trips per send through the mail component, under Wine: each server
// straight and through a delay line, before (keeping and pipelining off)
// and after (the defaults), as the first send to a server and as the sends
// that follow it; then private memory and handles across 1,000 sends with
// keeping on. bench/run-round-trip-bench.sh starts the servers and lines:
//   qel_round_trip_bench RTT-MS [LABEL DIRECT DELAYED]...
// A label other than "plain" sends with the test account.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using qel::bench::call;
using qel::bench::number;
using qel::bench::seconds;
using qel::bench::text;

namespace {

struct Settings {
    bool account = false;
    bool before = false;      // keeping and pipelining off
    std::wstring domain;      // a new one makes a new session: a first send
};

// One send with a new component, as the Renderer makes one; its answer (0 when sent).
int sendOnce(const wchar_t* server, const Settings& settings)
{
    const ComPtr<IDispatch> mail = qel::bench::newMail(server);
    if (!mail)
        return -1;
    call(mail.Get(), L"Domain", DISPATCH_PROPERTYPUT, {text(settings.domain.c_str())});
    if (settings.account) {
        call(mail.Get(), L"UserName", DISPATCH_PROPERTYPUT, {text(L"dispatch")});
        call(mail.Get(), L"Password", DISPATCH_PROPERTYPUT, {text(L"correct horse")});
    }
    if (settings.before) {
        call(mail.Get(), L"SessionIdleLimit", DISPATCH_PROPERTYPUT, {number(0)});
        VARIANT off;
        off.vt = VT_BOOL;
        off.boolVal = VARIANT_FALSE;
        call(mail.Get(), L"Pipelining", DISPATCH_PROPERTYPUT, {off});
    }
    return qel::bench::send(mail.Get());
}

constexpr int kRepetitions = 8;
constexpr int kBurst = 4; // a first send and three that follow it

struct Timing {
    double first = 0, following = 0;
};

// Mean seconds of a first send and of a following one, over the repetitions.
Timing time(const wchar_t* server, Settings settings, const wchar_t* tag, int& failures)
{
    static int generation = 0;
    Timing total;
    for (int r = 0; r < kRepetitions; ++r) {
        settings.domain = std::wstring(L"g") + std::to_wstring(++generation) + L"." + tag + L".example";
        for (int i = 0; i < kBurst; ++i) {
            const double start = seconds();
            failures += sendOnce(server, settings) != 0;
            (i == 0 ? total.first : total.following) += seconds() - start;
        }
    }
    return {total.first / kRepetitions, total.following / (kRepetitions * (kBurst - 1))};
}

std::pair<long long, long> usage()
{
    return {qel::bench::privateBytes(), qel::bench::nextHandleSlot()};
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5 || (argc - 2) % 3 != 0) {
        std::fprintf(stderr, "usage: qel_round_trip_bench RTT-MS [LABEL DIRECT DELAYED]...\n");
        return 2;
    }
    const double rtt = _wtof(argv[1]) / 1000;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int failures = 0;
    std::printf("round trips per send, (delayed - direct) / %.0f ms, mean of %d first sends and %d following\n",
                rtt * 1000, kRepetitions, kRepetitions * (kBurst - 1));
    std::printf("%-22s %14s %14s %14s %14s\n", "", "before first", "before follow", "after first", "after follow");
    for (int c = 2; c + 2 < argc; c += 3) {
        Settings settings;
        settings.account = std::wcscmp(argv[c], L"plain") != 0;
        sendOnce(argv[c + 1], settings); // loads what the first send loads, outside the timing
        double figures[4] = {};
        for (const bool before : {true, false}) {
            settings.before = before;
            const Timing direct = time(argv[c + 1], settings, L"direct", failures);
            const Timing delayed = time(argv[c + 2], settings, L"delayed", failures);
            figures[before ? 0 : 2] = (delayed.first - direct.first) / rtt;
            figures[before ? 1 : 3] = (delayed.following - direct.following) / rtt;
        }
        std::printf("%-22ls %14.1f %14.1f %14.1f %14.1f\n", argv[c], figures[0], figures[1], figures[2], figures[3]);
    }
    // Memory and handles with sessions kept, as the existing checks measure them.
    Settings kept;
    kept.account = std::wcscmp(argv[2], L"plain") != 0;
    kept.domain = L"soak.example";
    for (int i = 0; i < 50; ++i)
        failures += sendOnce(argv[3], kept) != 0;
    const auto start = usage();
    for (int i = 0; i < 1000; ++i)
        failures += sendOnce(argv[3], kept) != 0;
    const auto end = usage();
    std::printf("1000 %ls sends, session kept, after 50: private memory %+lld KiB, next handle slot %+ld\n", argv[2],
                (end.first - start.first) / 1024, end.second - start.second);
    std::printf("%d sends failed\n", failures);
    CoUninitialize();
    return failures == 0 ? 0 : 1;
}
