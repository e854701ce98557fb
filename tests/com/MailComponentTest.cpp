// The mail component's own members, from its DLL (QEL_SMTP_DLL): it is not
// registered while these tests run.
#include "mailcomponent/UniqueSocket.h" // Winsock before <windows.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "QelSmtp.h"
#include "com/ComTestSupport.h"

namespace qel::test {
namespace {

ComPtr<IDispatch> createMail()
{
    const char* path = std::getenv("QEL_SMTP_DLL");
    EXPECT_TRUE(path) << "QEL_SMTP_DLL names the mail component's DLL";
    const HMODULE dll = path ? LoadLibraryA(path) : nullptr;
    EXPECT_TRUE(dll) << path;
    if (!dll)
        return nullptr;
    const auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    ComPtr<IDispatch> mail;
    if (FAILED(getClassObject(CLSID_SmtpMail, IID_PPV_ARGS(&factory))) || FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&mail))))
        ADD_FAILURE() << "no mail component";
    return mail;
}

TEST(MailComponentTest, PasswordTakesHostileReferencesWithAnAnswer)
{
    const ComPtr<IDispatch> mail = createMail();
    ASSERT_TRUE(mail);
    VARIANT cycle; // a reference to itself: followed forever, it would hang the host
    cycle.vt = VT_BYREF | VT_VARIANT;
    cycle.pvarVal = &cycle;
    EXPECT_EQ(put(mail.Get(), L"Password", cycle).scode, static_cast<SCODE>(0x800A000D));
    VARIANT noString; // a string held by reference, without the string
    noString.vt = VT_BYREF | VT_BSTR;
    noString.pbstrVal = nullptr;
    EXPECT_HRESULT_SUCCEEDED(put(mail.Get(), L"Password", noString).hr);
}

// An SMTP server on loopback that offers PIPELINING and reads commands line
// by line, one thread per connection. After each message's final dot it
// answers 250 and keeps the session, answers 250 and then closes it with a
// 421 as an idle server does, or closes without answering. With `pairs`, it
// answers a final dot only once two connections are open.
class LoopbackServer {
public:
    enum AfterDot { Keep, Close421, Drop };
    explicit LoopbackServer(AfterDot after, bool pairs = false) : after_(after), pairs_(pairs)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), size);
        listen(listener_.get(), 8);
        getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] {
            while (!stop_) {
                if (!readable(listener_.get()))
                    continue;
                const SOCKET s = accept(listener_.get(), nullptr, nullptr);
                if (s == INVALID_SOCKET)
                    continue;
                const std::lock_guard<std::mutex> guard(lock_);
                ++connections;
                sockets_.emplace_back(s);
                sessions_.emplace_back([this, s] { serve(s); });
            }
        });
    }
    ~LoopbackServer()
    {
        stop_ = true; // a blocking accept or recv is not woken by a close under Wine
        acceptor_.join();
        listener_.reset();
        for (std::thread& t : sessions_)
            t.join();
    }
    std::wstring address() const { return L"127.0.0.1:" + std::to_wstring(port_); }

    std::atomic<int> connections{0}, messages{0}, quits{0};

private:
    void serve(SOCKET s)
    {
        const auto say = [s](const char* reply) { send(s, reply, static_cast<int>(strlen(reply)), 0); };
        say("220 loopback\r\n");
        std::string buffer;
        bool inData = false;
        for (char chunk[4096]; !stop_;) {
            if (!readable(s))
                continue;
            const int got = recv(s, chunk, sizeof chunk, 0);
            if (got <= 0)
                return;
            buffer.append(chunk, got);
            for (std::size_t end; (end = buffer.find("\r\n")) != std::string::npos;) {
                const std::string line = buffer.substr(0, end);
                buffer.erase(0, end + 2);
                if (inData) {
                    if (line != ".")
                        continue;
                    inData = false;
                    ++messages;
                    for (int i = 0; pairs_ && connections < 2 && i < 500; ++i)
                        Sleep(10);
                    if (after_ == Drop) {
                        shutdown(s, SD_BOTH);
                        return;
                    }
                    say("250 queued\r\n");
                    if (after_ == Close421) {
                        Sleep(200);
                        say("421 4.4.2 idle too long\r\n");
                        shutdown(s, SD_BOTH);
                        return;
                    }
                } else if (line.rfind("EHLO", 0) == 0) {
                    say("250-loopback\r\n250 PIPELINING\r\n");
                } else if (line == "DATA") {
                    inData = true;
                    say("354 go\r\n");
                } else if (line == "QUIT") {
                    ++quits;
                    say("221 bye\r\n");
                    shutdown(s, SD_SEND);
                    return;
                } else {
                    say("250 ok\r\n");
                }
            }
        }
    }

    bool readable(SOCKET s)
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait{0, 50'000};
        return select(0, &set, nullptr, nullptr, &wait) == 1;
    }

    std::atomic<bool> stop_{false};
    AfterDot after_;
    bool pairs_;
    mailcomponent::WinsockUse winsock_ = mailcomponent::startWinsock(); // first in, last out
    mailcomponent::UniqueSocket listener_{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
    unsigned short port_ = 0;
    std::thread acceptor_;
    std::mutex lock_;
    std::vector<mailcomponent::UniqueSocket> sockets_;
    std::vector<std::thread> sessions_;
};

// One Send by a new component, as the Renderer makes one; its answer (-1: none).
long sendTo(const std::wstring& server, long idleLimit = -1, const std::u16string& from = u"dispatch@example.com")
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    long answer = -1;
    if (const ComPtr<IDispatch> mail = createMail()) {
        put(mail.Get(), L"MailServer", Variant::ofText(std::u16string(server.begin(), server.end())).get());
        put(mail.Get(), L"FromAddr", Variant::ofText(from).get());
        put(mail.Get(), L"Domain", Variant::ofText(u"client.example").get());
        if (idleLimit >= 0) {
            VARIANT seconds;
            seconds.vt = VT_I4;
            seconds.lVal = idleLimit;
            put(mail.Get(), L"SessionIdleLimit", seconds);
        }
        call(mail.Get(), L"AddRecipient", DISPATCH_METHOD, {Variant::ofText(u"gateway@example.com").get()});
        const DispatchResult sent = call(mail.Get(), L"Send", DISPATCH_METHOD);
        if (FAILED(sent.hr))
            answer = sent.hr;
        else if (sent.value.get().vt == VT_I2) // an answer never written reads as 0 otherwise
            answer = sent.value.get().iVal;
    }
    CoUninitialize();
    return answer;
}

// A session kept from one Send serves the next; one the server closed
// meanwhile is replaced before any data, one lost after the final dot is
// not tried again: every message arrives once.
TEST(MailComponentTest, KeptSessionsDeliverEachMailOnce)
{
    LoopbackServer keeping(LoopbackServer::Keep);
    EXPECT_EQ(sendTo(keeping.address()), 0);
    EXPECT_EQ(sendTo(keeping.address()), 0);
    EXPECT_EQ(keeping.connections, 1);
    EXPECT_EQ(keeping.messages, 2);

    LoopbackServer closing(LoopbackServer::Close421);
    EXPECT_EQ(sendTo(closing.address()), 0);
    Sleep(500); // the server's 421 and close come meanwhile
    EXPECT_EQ(sendTo(closing.address()), 0);
    EXPECT_EQ(closing.connections, 2);
    EXPECT_EQ(closing.messages, 2);

    // Keeping off, then a session left idle past its limit: each closed with QUIT.
    LoopbackServer idle(LoopbackServer::Keep);
    EXPECT_EQ(sendTo(idle.address(), 0), 0);
    EXPECT_EQ(sendTo(idle.address(), 0), 0);
    EXPECT_EQ(sendTo(idle.address(), 1), 0);
    Sleep(1500); // past the limit, and no Send comes: the pool closes it by itself
    EXPECT_EQ(idle.quits, 3);
    EXPECT_EQ(sendTo(idle.address()), 0);
    EXPECT_EQ(idle.connections, 4);
    const auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("QelSmtp.dll"), "DllCanUnloadNow")));
    Sleep(1100); // no object for a moment: only the kept sessions hold the DLL
    EXPECT_EQ(canUnloadNow(), S_FALSE);

    LoopbackServer dropping(LoopbackServer::Drop);
    EXPECT_EQ(sendTo(dropping.address()), 16);
    EXPECT_EQ(dropping.connections, 1);
    EXPECT_EQ(dropping.messages, 1);
}

TEST(MailComponentTest, ApartmentsSendingAtOnceEachHaveASession)
{
    LoopbackServer server(LoopbackServer::Keep, true);
    std::atomic<long> first{-1}, second{-1};
    std::thread a([&] { first = sendTo(server.address()); });
    std::thread b([&] { second = sendTo(server.address()); });
    a.join();
    b.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(sendTo(server.address()), 0);
    EXPECT_EQ(server.connections, 2);
    EXPECT_EQ(server.messages, 3);
}

TEST(MailComponentTest, ManyApartmentsSendingOverAndOverThroughThePoolDeliverEachMailOnce)
{
    LoopbackServer server(LoopbackServer::Keep);
    std::atomic<int> failed{0};
    std::atomic<long> firstFailure{0};
    std::vector<std::thread> apartments;
    for (int a = 0; a < 6; ++a)
        apartments.emplace_back([&] {
            for (int i = 0; i < 5; ++i)
                if (const long code = sendTo(server.address()); code != 0) {
                    long none = 0;
                    firstFailure.compare_exchange_strong(none, code);
                    ++failed;
                }
        });
    for (std::thread& apartment : apartments)
        apartment.join();
    EXPECT_EQ(failed, 0) << "the first failed with " << firstFailure;
    EXPECT_EQ(server.messages, 30);
}

// TraceFile under HKCU while it lives.
class TraceSetting {
public:
    explicit TraceSetting(const std::wstring& path)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Qel\\QelSmtp", L"TraceFile", REG_SZ, path.c_str(),
                        static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    }
    ~TraceSetting() { RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Qel\\QelSmtp", L"TraceFile"); }
};

std::wstring tempFolder()
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return folder;
}

std::string contentOf(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    std::string all(1 << 20, '\0');
    DWORD got = 0;
    if (file == INVALID_HANDLE_VALUE || !ReadFile(file, all.data(), static_cast<DWORD>(all.size()), &got, nullptr))
        got = 0;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    all.resize(got);
    return all;
}

// Apartments sending at once, traced: each Send's block whole, in its own
// thread's name, with its own mail and its result.
TEST(MailComponentTest, TracedSendsAtOnceEachAppendOneWholeBlock)
{
    const std::wstring path = tempFolder() + L"qelsmtp-" + std::to_wstring(GetCurrentProcessId()) + L".log";
    DeleteFileW(path.c_str());
    LoopbackServer server(LoopbackServer::Keep);
    {
        const TraceSetting setting(path);
        std::atomic<int> failed{0};
        std::vector<std::thread> apartments;
        for (int a = 0; a < 6; ++a)
            apartments.emplace_back([&, a] {
                for (int i = 0; i < 5; ++i) {
                    const std::string from = "a" + std::to_string(a) + "." + std::to_string(i) + "@example.com";
                    failed += sendTo(server.address(), -1, std::u16string(from.begin(), from.end())) != 0;
                }
            });
        for (std::thread& apartment : apartments)
            apartment.join();
        EXPECT_EQ(failed, 0);
    }
    const std::wstring address = server.address();
    const std::string hostPort(address.begin(), address.end());
    std::istringstream trace(contentOf(path));
    std::map<std::string, std::string> threadOf; // apartment: the thread its blocks name
    std::set<std::string> mails;
    std::string thread, from;
    bool inBlock = false;
    int blocks = 0;
    for (std::string line; std::getline(trace, line);) {
        ASSERT_FALSE(line.empty() || line.back() != '\r') << line;
        line.pop_back();
        if (line.rfind("=== Send ", 0) == 0) {
            ASSERT_FALSE(inBlock) << line;
            inBlock = true;
            from.clear();
            const std::size_t at = line.find(", thread ");
            ASSERT_NE(at, std::string::npos) << line;
            thread = line.substr(at + 9, line.find(',', at + 1) - at - 9);
            EXPECT_NE(line.find(", server " + hostPort + " plain, account: none"), std::string::npos) << line;
        } else if (line.rfind("=== result ", 0) == 0) {
            ASSERT_TRUE(inBlock) << line;
            EXPECT_EQ(line, "=== result 0");
            ASSERT_FALSE(from.empty()) << "a block without its mail";
            const std::string apartment = from.substr(0, from.find('.'));
            EXPECT_EQ(threadOf.emplace(apartment, thread).first->second, thread) << from;
            EXPECT_TRUE(mails.insert(from).second) << from;
            inBlock = false;
            ++blocks;
        } else {
            ASSERT_TRUE(inBlock && line.rfind("  +", 0) == 0) << line;
            if (const std::size_t at = line.find("C: MAIL FROM:<"); at != std::string::npos) {
                EXPECT_TRUE(from.empty()) << "a second mail in one block: " << line;
                from = line.substr(at + 14, line.find('>') - at - 14);
            }
        }
    }
    EXPECT_FALSE(inBlock);
    EXPECT_EQ(blocks, 30);
    EXPECT_EQ(mails.size(), 30u);
    EXPECT_EQ(threadOf.size(), 6u);
    DeleteFileW(path.c_str());

    // A trace that cannot be written changes nothing.
    for (const std::wstring& unwritable : {tempFolder(), tempFolder() + L"no-such-folder\\qelsmtp.log"}) {
        const TraceSetting setting(unwritable);
        EXPECT_EQ(sendTo(server.address()), 0);
    }
    EXPECT_EQ(server.messages, 32);
}

} // namespace
} // namespace qel::test
