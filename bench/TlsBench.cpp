// The mail component over TLS against plain SMTP, under Wine, in one run:
// a 10 MiB attachment through each (best of three, printed as a ratio), then
// private memory and handles across 200 sends of each kind. Needs QelSmtp.dll
// registered in the prefix and the two servers of bench/run-tls-bench.sh:
//   qel_tls_bench PLAIN-SERVER TLS-SERVER ATTACHMENT
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using qel::bench::call;
using qel::bench::seconds;
using qel::bench::text;

namespace {

// One send; the component's answer (0 when sent).
int sendOnce(const wchar_t* server, const wchar_t* attachment)
{
    const ComPtr<IDispatch> mail = qel::bench::newMail(server);
    if (!mail)
        return -1;
    if (attachment) {
        VARIANT ignored;
        VariantInit(&ignored);
        call(mail.Get(), L"AddAttachment", DISPATCH_METHOD, {text(attachment)}, &ignored);
        VariantClear(&ignored);
    }
    return qel::bench::send(mail.Get());
}

double bestOfThree(const wchar_t* server, const wchar_t* attachment, int& failures)
{
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double start = seconds();
        if (sendOnce(server, attachment) != 0)
            ++failures;
        best = std::min(best, seconds() - start);
    }
    return best;
}

std::pair<long long, long> usage()
{
    return {qel::bench::privateBytes(), qel::bench::nextHandleSlot()};
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: qel_tls_bench PLAIN-SERVER TLS-SERVER ATTACHMENT\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int failures = 0;
    sendOnce(argv[2], nullptr); // loads the TLS provider once, outside the timing
    const double plain = bestOfThree(argv[1], argv[3], failures);
    const double tls = bestOfThree(argv[2], argv[3], failures);
    std::printf("10 MiB attachment, best of 3: plain %.3f s, STARTTLS %.3f s, ratio %.2f (goal <= 1.5)\n", plain, tls,
                tls / plain);
    for (const auto& [name, server] : {std::pair{"plain", argv[1]}, std::pair{"TLS", argv[2]}}) {
        for (int i = 0; i < 20; ++i)
            failures += sendOnce(server, nullptr) != 0;
        const auto before = usage();
        for (int i = 0; i < 200; ++i)
            failures += sendOnce(server, nullptr) != 0;
        const auto after = usage();
        std::printf("200 %s sends after 20: private memory %+lld KiB, next handle slot %+ld\n", name,
                    (after.first - before.first) / 1024, after.second - before.second);
    }
    std::printf("%d sends failed\n", failures);
    CoUninitialize();
    return failures == 0 ? 0 : 1;
}
