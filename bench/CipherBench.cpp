// Cipher and transform speed against libmcrypt's rijndael-256 in the same
// run. Prints each benchmark, then the ratios the goals are stated in.
#include <mcrypt.h>

#include <cstring>
#include <map>
#include <random>

#include <benchmark/benchmark.h>

#include "crypt/QelvanCryptCls.h"
#include "textcrypt/CurrentTransform.h"
#include "textcrypt/LegacyTransform.h"

namespace {

using qel::crypt::ByteArrayView;
using qel::crypt::QelvanCryptCls;

std::vector<std::uint8_t> randomBytes(std::size_t n)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

const std::vector<std::uint8_t> kPassword = randomBytes(32);

// Frame of a message: what libmcrypt must encrypt to match EncryptData.
std::vector<std::uint8_t> frameOf(const std::vector<std::uint8_t>& message)
{
    std::vector<std::uint8_t> frame(4 + message.size());
    for (int i = 0; i < 4; ++i)
        frame[i] = static_cast<std::uint8_t>(message.size() >> (8 * i));
    std::memcpy(frame.data() + 4, message.data(), message.size());
    frame.resize((frame.size() + 31) / 32 * 32, 0);
    return frame;
}

// One libmcrypt call as a user makes it: open, key, encrypt, close.
void mcryptEncrypt(std::vector<std::uint8_t>& data)
{
    MCRYPT td = mcrypt_module_open(const_cast<char*>("rijndael-256"), nullptr, const_cast<char*>("ecb"), nullptr);
    mcrypt_generic_init(td, const_cast<std::uint8_t*>(kPassword.data()), 32, nullptr);
    mcrypt_generic(td, data.data(), static_cast<int>(data.size()));
    mcrypt_generic_deinit(td);
    mcrypt_module_close(td);
}

constexpr std::size_t kBulkBytes = 1 << 20;

void EncryptData_1MiB(benchmark::State& state)
{
    const auto message = randomBytes(kBulkBytes);
    for (auto _ : state) {
        QelvanCryptCls cipher;
        benchmark::DoNotOptimize(cipher.EncryptData(ByteArrayView(message), ByteArrayView(kPassword)));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBulkBytes));
}

void Mcrypt_1MiB(benchmark::State& state)
{
    const auto frame = frameOf(randomBytes(kBulkBytes));
    for (auto _ : state) {
        auto data = frame;
        mcryptEncrypt(data);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBulkBytes));
}

const std::u16string kText160 = [] {
    std::u16string text;
    for (int i = 0; i < 160; ++i)
        text += static_cast<char16_t>(u'a' + i % 26);
    return text;
}();

void LegacyEncrypt_160Chars(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(qel::textcrypt::myOldEncrypt(kText160));
}

void Mcrypt_PerCall_352Bytes(benchmark::State& state)
{
    std::vector<std::uint8_t> textBytes(reinterpret_cast<const std::uint8_t*>(kText160.data()),
                                        reinterpret_cast<const std::uint8_t*>(kText160.data()) + 320);
    const auto frame = frameOf(textBytes);
    for (auto _ : state) {
        auto data = frame;
        mcryptEncrypt(data);
        benchmark::DoNotOptimize(data.data());
    }
}

void LegacyDecrypt_160Chars(benchmark::State& state)
{
    const std::u16string hex = qel::textcrypt::myOldEncrypt(kText160);
    for (auto _ : state)
        benchmark::DoNotOptimize(qel::textcrypt::myOldDecrypt(hex));
}

const std::u16string kLongText = [] {
    std::u16string text(1 << 20, u' ');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(32 + i % 95);
    return text;
}();

void CurrentEncrypt_1MChars(benchmark::State& state)
{
    const auto& page = qel::textcrypt::AnsiCodePage::windows1252();
    for (auto _ : state)
        benchmark::DoNotOptimize(qel::textcrypt::myEncrypt(kLongText, page));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLongText.size()));
}

void CurrentDecrypt_1MChars(benchmark::State& state)
{
    const auto& page = qel::textcrypt::AnsiCodePage::windows1252();
    const std::u16string hex = qel::textcrypt::myEncrypt(kLongText, page);
    for (auto _ : state)
        benchmark::DoNotOptimize(qel::textcrypt::myDecrypt(hex, page));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kLongText.size()));
}

BENCHMARK(EncryptData_1MiB)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(Mcrypt_1MiB)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(LegacyEncrypt_160Chars)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(Mcrypt_PerCall_352Bytes)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(LegacyDecrypt_160Chars)->Unit(benchmark::kMicrosecond)->Repetitions(5);
BENCHMARK(CurrentEncrypt_1MChars)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(CurrentDecrypt_1MChars)->Unit(benchmark::kMillisecond)->Repetitions(5);

// Keeps each benchmark's median real time for the closing ratios.
class MedianCollector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime() * unitSeconds(run.time_unit);
    }
    static double unitSeconds(benchmark::TimeUnit unit)
    {
        switch (unit) {
        case benchmark::kNanosecond: return 1e-9;
        case benchmark::kMicrosecond: return 1e-6;
        case benchmark::kMillisecond: return 1e-3;
        default: return 1.0;
        }
    }
    std::map<std::string, double> medians;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    MedianCollector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& m = reporter.medians;
    const auto ratio = [&](const char* baseline, const char* ours) { return m[baseline] / m[ours]; };
    if (m.count("EncryptData_1MiB") && m.count("Mcrypt_1MiB"))
        std::printf("\nbulk 1 MiB: EncryptData %.1f MB/s, libmcrypt %.1f MB/s, speed ratio %.2fx (goal >= 1.5x)\n",
                    kBulkBytes / m["EncryptData_1MiB"] / 1e6, kBulkBytes / m["Mcrypt_1MiB"] / 1e6,
                    ratio("Mcrypt_1MiB", "EncryptData_1MiB"));
    if (m.count("LegacyEncrypt_160Chars") && m.count("Mcrypt_PerCall_352Bytes"))
        std::printf("legacy 160 chars: %.2f us median per call (goal <= 5 us); libmcrypt per call %.2f us; ratio %.2fx\n",
                    m["LegacyEncrypt_160Chars"] * 1e6, m["Mcrypt_PerCall_352Bytes"] * 1e6,
                    ratio("Mcrypt_PerCall_352Bytes", "LegacyEncrypt_160Chars"));
    if (m.count("CurrentEncrypt_1MChars"))
        std::printf("current transform: encrypt %.0f M chars/s, decrypt %.0f M chars/s (goal >= 100)\n",
                    kLongText.size() / m["CurrentEncrypt_1MChars"] / 1e6,
                    kLongText.size() / m["CurrentDecrypt_1MChars"] / 1e6);
    benchmark::Shutdown();
    return 0;
}
