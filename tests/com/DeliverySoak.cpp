// Apartments sending at once through the mail component's session pool, as
// the Renderer's hosts do, each mail with a token of its own ("aNsM": the
// apartment and its send) as sender and Subject. Prints one line per send,
//   TOKEN RESULT MILLISECONDS ERRORDETAIL
// for a checker to hold against what the server kept. Only the public
// interface is used, so the dialogue behind it may change freely.
//   qel_delivery_soak SERVER APARTMENTS SENDS TIMEOUT FINAL_REPLY_TIMEOUT IDLE_LIMIT
// The component comes from the DLL named by QEL_SMTP_DLL, unregistered.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QelSmtp.h"
#include "automation/Variant.h"

namespace {

using Microsoft::WRL::ComPtr;
using qel::automation::Variant;
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

struct Settings {
    std::u16string server;
    int timeout, finalReplyTimeout, idleLimit;
};

Variant text(const std::string& ascii)
{
    return Variant::ofText(std::u16string(ascii.begin(), ascii.end()));
}

Variant seconds(int value)
{
    return Variant::ofInteger(static_cast<std::int16_t>(value));
}

std::string printable(const VARIANT& value)
{
    std::string out;
    if (value.vt == VT_BSTR)
        for (UINT i = 0; i < SysStringLen(value.bstrVal); ++i)
            out += value.bstrVal[i] >= 0x20 && value.bstrVal[i] < 0x7F ? static_cast<char>(value.bstrVal[i]) : '?';
    return out;
}

// One Send by a component of its own, as the Renderer makes one per mail.
std::string sendOne(GetClassObject getClassObject, const Settings& settings, const std::string& token)
{
    ComPtr<IClassFactory> factory;
    ComPtr<_SmtpMail> mail;
    if (FAILED(getClassObject(CLSID_SmtpMail, IID_PPV_ARGS(&factory))) || FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&mail))))
        return token + " -1 0 no mail component";
    mail->put_MailServer(Variant::ofText(settings.server).get());
    mail->put_FromAddr(text(token + "@soak.example").get());
    mail->put_Domain(text("client.example").get());
    mail->put_Subject(text("soak " + token).get());
    mail->put_BodyText(text("This is mail " + token + " of the delivery soak.\r\n").get());
    mail->put_Timeout(seconds(settings.timeout).get());
    mail->put_FinalReplyTimeout(seconds(settings.finalReplyTimeout).get());
    mail->put_SessionIdleLimit(seconds(settings.idleLimit).get());
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    Variant added;
    mail->AddRecipient(text("gateway@example.com").get(), missing, missing, added.receive());
    const auto started = std::chrono::steady_clock::now();
    Variant result;
    const HRESULT hr = mail->Send(result.receive());
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    long code = hr;
    if (SUCCEEDED(hr))
        code = result.get().vt == VT_I2 ? result.get().iVal : result.get().vt == VT_I4 ? result.get().lVal : -2;
    Variant detail;
    mail->get_ErrorDetail(detail.receive());
    return token + " " + std::to_string(code) + " " + std::to_string(took.count()) + " " + printable(detail.get());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: qel_delivery_soak SERVER APARTMENTS SENDS TIMEOUT FINAL_REPLY_TIMEOUT IDLE_LIMIT\n");
        return 2;
    }
    const std::string server = argv[1];
    const Settings settings{std::u16string(server.begin(), server.end()), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6])};
    const int apartments = std::atoi(argv[2]), sends = std::atoi(argv[3]);
    const char* path = std::getenv("QEL_SMTP_DLL");
    const HMODULE dll = path ? LoadLibraryA(path) : nullptr;
    const auto getClassObject =
        dll ? reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject"))) : nullptr;
    if (!getClassObject) {
        std::fprintf(stderr, "QEL_SMTP_DLL must name the mail component's DLL (%s)\n", path ? path : "unset");
        return 2;
    }
    std::mutex output;
    std::vector<std::thread> threads;
    for (int a = 0; a < apartments; ++a)
        threads.emplace_back([&, a] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            for (int s = 0; s < sends; ++s) {
                char token[32];
                std::snprintf(token, sizeof token, "a%ds%d", a, s);
                const std::string line = sendOne(getClassObject, settings, token);
                const std::lock_guard<std::mutex> guard(output);
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
            }
            CoUninitialize();
        });
    for (std::thread& thread : threads)
        thread.join();
    return 0;
}
