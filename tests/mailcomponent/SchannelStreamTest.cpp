// The TLS layer's loops against a scripted Schannel: what the real one
// returns on Windows and on Wine (incomplete messages, bytes of the next
// record, renegotiation, close_notify) arrives here on purpose, in any
// split. The "protocol" is text: the server's handshake messages and records
// end in ';', a record "D..." carries data, an encrypted record is "[...]".
// Every handle the fake hands out is booked, and each test ends with every
// one freed exactly once.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <set>
#include <string>
#include <thread>

#include "mailcomponent/SchannelStream.h"

namespace qel::mailcomponent {
namespace {

using mail::Deadline;
using mail::MailCode;

// The peer: what the client sent, and what arrives on each read; then, if
// set, `forever` on every read, a millisecond apart, past any deadline (as
// a socket that stays readable would), until a read count no sound wait reaches.
class ScriptedChannel final : public ByteChannel {
public:
    MailCode sendRaw(std::string_view bytes, Deadline) override
    {
        sent += bytes;
        sent += '|';
        return mail::Ok;
    }
    MailCode receiveRaw(std::string& into, Deadline) override
    {
        ++reads;
        if (arrivals.empty() && !forever.empty() && reads < kGiveUpAfter) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            into += forever;
            return mail::Ok;
        }
        if (arrivals.empty())
            return mail::ConnectionDropped;
        into += arrivals.front();
        arrivals.pop_front();
        return mail::Ok;
    }
    static constexpr int kGiveUpAfter = 500;
    std::deque<std::string> arrivals;
    std::string forever;
    std::string sent;
    int reads = 0;
};

struct Script {
    SECURITY_STATUS finalHandshake = SEC_E_OK; // what the message "S2;" completes with
    DWORD protocol = SP_PROT_TLS1_2_CLIENT;
    bool certificateGood = true;
    std::string handshakeInputs; // every input token, '/' between calls
    int renegotiations = 0;
    bool certificateRequested = false;
};
Script* script = nullptr;

// Handles given out and not yet freed, by kind ('C'redentials, conte'X't,
// 'B'uffer); a free of anything else is a stray.
std::multiset<std::pair<char, ULONG_PTR>> liveHandles;
int strayFrees = 0;
ULONG_PTR nextHandle = 1;

void book(SecHandle* h, char kind)
{
    h->dwLower = h->dwUpper = nextHandle++;
    liveHandles.insert({kind, h->dwLower});
}

void unbook(char kind, ULONG_PTR value)
{
    const auto at = liveHandles.find({kind, value});
    if (at == liveHandles.end())
        ++strayFrees;
    else
        liveHandles.erase(at);
}

// One message ending in ';' from `bytes`: its length, or 0 when incomplete.
std::size_t messageLength(std::string_view bytes)
{
    const std::size_t end = bytes.find(';');
    return end == std::string_view::npos ? 0 : end + 1;
}

SECURITY_STATUS SEC_ENTRY acquire(SEC_WCHAR*, SEC_WCHAR*, ULONG, void*, void*, SEC_GET_KEY_FN, void*, PCredHandle h, PTimeStamp)
{
    book(h, 'C');
    return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY freeCredentials(PCredHandle h)
{
    unbook('C', h->dwLower);
    return SEC_E_OK;
}
SECURITY_STATUS SEC_ENTRY deleteContext(PCtxtHandle h)
{
    unbook('X', h->dwLower);
    return SEC_E_OK;
}
SECURITY_STATUS SEC_ENTRY freeBuffer(void* p)
{
    unbook('B', reinterpret_cast<ULONG_PTR>(p));
    delete[] static_cast<char*>(p);
    return SEC_E_OK;
}

void giveToken(PSecBufferDesc out, const std::string& token)
{
    char* bytes = new char[token.size() + 1];
    token.copy(bytes, token.size());
    liveHandles.insert({'B', reinterpret_cast<ULONG_PTR>(bytes)});
    out->pBuffers[0].pvBuffer = bytes;
    out->pBuffers[0].cbBuffer = static_cast<unsigned long>(token.size());
}

SECURITY_STATUS SEC_ENTRY initialize(PCredHandle, PCtxtHandle context, SEC_WCHAR*, ULONG, ULONG, ULONG, PSecBufferDesc in, ULONG,
                                     PCtxtHandle newContext, PSecBufferDesc out, PULONG, PTimeStamp)
{
    if (!context) { // the first call: the hello
        book(newContext, 'X');
        giveToken(out, "C0");
        return SEC_I_CONTINUE_NEEDED;
    }
    if (!in) // the shutdown token
        return giveToken(out, "CLOSE"), SEC_E_OK;
    const std::string_view input(static_cast<const char*>(in->pBuffers[0].pvBuffer), in->pBuffers[0].cbBuffer);
    script->handshakeInputs += std::string(input) + "/";
    const std::size_t length = messageLength(input);
    if (length == 0)
        return SEC_E_INCOMPLETE_MESSAGE;
    if (length < input.size()) {
        in->pBuffers[1].BufferType = SECBUFFER_EXTRA;
        in->pBuffers[1].cbBuffer = static_cast<unsigned long>(input.size() - length);
    }
    const std::string_view message = input.substr(0, length);
    if (message == "S1;")
        return giveToken(out, "C1"), SEC_I_CONTINUE_NEEDED;
    // A CertificateRequest: the first call asks for a certificate, the next
    // with the same input goes on without; "CX;" asks for ever.
    if (message == "CR;" && !std::exchange(script->certificateRequested, true))
        return SEC_I_INCOMPLETE_CREDENTIALS;
    if (message == "CR;")
        return giveToken(out, "CC"), SEC_I_CONTINUE_NEEDED;
    if (message == "CX;")
        return SEC_I_INCOMPLETE_CREDENTIALS;
    if (message == "H;") // a message that only asks for another
        return SEC_I_CONTINUE_NEEDED;
    if (message == "S2;") {
        if (script->finalHandshake == SEC_E_OK)
            giveToken(out, "C2");
        return script->finalHandshake;
    }
    if (message == "S3;") {
        ++script->renegotiations;
        return SEC_E_OK;
    }
    return SEC_E_ILLEGAL_MESSAGE;
}

SECURITY_STATUS SEC_ENTRY query(PCtxtHandle, ULONG attribute, void* value)
{
    if (attribute == SECPKG_ATTR_STREAM_SIZES) {
        auto* sizes = static_cast<SecPkgContext_StreamSizes*>(value);
        *sizes = {};
        sizes->cbHeader = 1;
        sizes->cbTrailer = 4; // the fake uses one byte of it: the real trailer can be shorter too
        sizes->cbMaximumMessage = 8;
        return SEC_E_OK;
    }
    if (attribute == SECPKG_ATTR_CONNECTION_INFO) {
        auto* info = static_cast<SecPkgContext_ConnectionInfo*>(value);
        *info = {};
        info->dwProtocol = script->protocol;
        return SEC_E_OK;
    }
    if (attribute == SECPKG_ATTR_REMOTE_CERT_CONTEXT) {
        *static_cast<PCCERT_CONTEXT*>(value) = nullptr;
        return SEC_E_OK;
    }
    return SEC_E_UNSUPPORTED_FUNCTION;
}

bool check(PCCERT_CONTEXT, const std::wstring& host, Deadline, std::string& reason)
{
    reason = "refused for " + std::string(host.begin(), host.end());
    return script->certificateGood;
}

SECURITY_STATUS SEC_ENTRY encrypt(PCtxtHandle, ULONG, PSecBufferDesc message, ULONG)
{
    SecBuffer* b = message->pBuffers;
    static_cast<char*>(b[0].pvBuffer)[0] = '[';
    static_cast<char*>(b[2].pvBuffer)[0] = ']';
    b[2].cbBuffer = 1;
    return SEC_E_OK;
}

// Records: "D<data>;" data, "N;" nothing (a ticket), "\x15;" an alert
// (close_notify as Wine reports it), "X;" context expired, "R;" renegotiate
// with what follows as the handshake message.
SECURITY_STATUS SEC_ENTRY decrypt(PCtxtHandle, PSecBufferDesc message, ULONG, PULONG)
{
    SecBuffer* b = message->pBuffers;
    char* bytes = static_cast<char*>(b[0].pvBuffer);
    const std::string_view input(bytes, b[0].cbBuffer);
    const std::size_t length = messageLength(input);
    if (length == 0)
        return SEC_E_INCOMPLETE_MESSAGE;
    b[0].BufferType = SECBUFFER_STREAM_HEADER;
    b[0].cbBuffer = 1;
    b[1] = {static_cast<unsigned long>(input[0] == 'D' ? length - 2 : 0), SECBUFFER_DATA, bytes + 1};
    if (length < input.size())
        b[3] = {static_cast<unsigned long>(input.size() - length), SECBUFFER_EXTRA, bytes + length};
    switch (input[0]) {
    case 'D':
    case 'N':
    case '\x15':
        return SEC_E_OK;
    case 'X':
        return SEC_I_CONTEXT_EXPIRED;
    case 'R':
        return SEC_I_RENEGOTIATE;
    default:
        return SEC_E_DECRYPT_FAILURE;
    }
}

SECURITY_STATUS SEC_ENTRY control(PCtxtHandle, PSecBufferDesc) { return SEC_E_OK; }

SecurityFunctionTableW fakeSchannel()
{
    SecurityFunctionTableW t{};
    t.AcquireCredentialsHandleW = acquire;
    t.FreeCredentialsHandle = freeCredentials;
    t.InitializeSecurityContextW = initialize;
    t.DeleteSecurityContext = deleteContext;
    t.QueryContextAttributesW = query;
    t.FreeContextBuffer = freeBuffer;
    t.EncryptMessage = encrypt;
    t.DecryptMessage = decrypt;
    t.ApplyControlToken = control;
    return t;
}

// Checks, once every stream of a test is gone, that each handle was freed once.
struct HandleLedger {
    HandleLedger() { liveHandles.clear(), strayFrees = 0; }
    ~HandleLedger()
    {
        EXPECT_TRUE(liveHandles.empty()) << liveHandles.size() << " handles not freed, the first of kind "
                                         << (liveHandles.empty() ? ' ' : liveHandles.begin()->first);
        EXPECT_EQ(strayFrees, 0) << "handles freed twice or never handed out";
    }
};

class SchannelStreamTest : public ::testing::Test {
protected:
    void SetUp() override { script = &script_; }
    void TearDown() override { script = nullptr; }
    MailCode handshake() { return tls_.handshake(L"mail.example.com", Deadline::in(std::chrono::seconds(5))); }
    std::string receive(MailCode expected = mail::Ok)
    {
        std::string into;
        EXPECT_EQ(tls_.receive(into, Deadline::in(std::chrono::seconds(5))), expected);
        return into;
    }

    HandleLedger ledger_; // first: checked after the streams below are gone
    Script script_;
    ScriptedChannel channel_;
    SecurityFunctionTableW table_ = fakeSchannel();
    SchannelStream tls_{channel_, table_, check};
};

TEST_F(SchannelStreamTest, HandshakeInAnySplitKeepsTheBytesAfterIt)
{
    // A message in two reads, then two messages and the first record in one.
    channel_.arrivals = {"S", "1;", "CR;S2;D220 hi\r\n;D2"};
    ASSERT_EQ(handshake(), mail::Ok) << tls_.failureDetail();
    EXPECT_EQ(channel_.sent, "C0|C1|CC|C2|");
    // Asked for a certificate, the loop offers the same input again.
    EXPECT_EQ(script_.handshakeInputs, "S/S1;/CR;S2;D220 hi\r\n;D2/CR;S2;D220 hi\r\n;D2/S2;D220 hi\r\n;D2/");
    channel_.arrivals = {"50 ok\r\n;"};
    EXPECT_EQ(receive(), "220 hi\r\n");
    EXPECT_EQ(channel_.reads, 3); // the first record came with the handshake
    EXPECT_EQ(receive(), "250 ok\r\n");
}

TEST_F(SchannelStreamTest, RecordsWithoutDataAndRenegotiationAreReadPast)
{
    channel_.arrivals = {"S1;", "S2;"};
    ASSERT_EQ(handshake(), mail::Ok);
    channel_.arrivals = {"N;R;S3;", "D250 ok\r\n;"};
    EXPECT_EQ(receive(), "250 ok\r\n");
    EXPECT_EQ(script_.renegotiations, 1);
}

TEST_F(SchannelStreamTest, TheEndOfTheSessionIsADroppedConnection)
{
    for (const std::string& end : {std::string("\x15;"), std::string("X;")}) {
        SetUp();
        ScriptedChannel channel;
        SchannelStream tls(channel, table_, check);
        channel.arrivals = {"S1;", "S2;", "D221 bye\r\n;" + end, "D never read;"};
        ASSERT_EQ(tls.handshake(L"mail.example.com", Deadline::in(std::chrono::seconds(5))), mail::Ok);
        std::string into;
        EXPECT_EQ(tls.receive(into, Deadline::in(std::chrono::seconds(5))), mail::Ok);
        EXPECT_EQ(tls.receive(into, Deadline::in(std::chrono::seconds(5))), mail::ConnectionDropped);
        EXPECT_EQ(into, "221 bye\r\n");
        EXPECT_EQ(channel.arrivals.size(), 1u);
    }
}

TEST_F(SchannelStreamTest, SendsRecordsOfTheContextsSizeTogether)
{
    channel_.arrivals = {"S1;", "S2;"};
    ASSERT_EQ(handshake(), mail::Ok);
    channel_.sent.clear();
    ASSERT_EQ(tls_.send("EHLO client\r\n", Deadline::in(std::chrono::seconds(5))), mail::Ok);
    EXPECT_EQ(channel_.sent, "[EHLO cli][ent\r\n]|"); // records of 8 bytes at most, in one write
}

TEST_F(SchannelStreamTest, RefusalsEndTheHandshakeWithNothingSentAfterIt)
{
    struct Case {
        const char* name;
        SECURITY_STATUS finalHandshake;
        DWORD protocol;
        bool certificateGood;
        MailCode expected;
        const char* detail;
        const char* second = "S2;";
    };
    const Case cases[] = {
        {"certificate", SEC_E_OK, SP_PROT_TLS1_2_CLIENT, false, mail::CannotConnect, "refused for mail.example.com"},
        {"old protocol", SEC_E_OK, SP_PROT_TLS1_1_CLIENT, true, mail::CannotConnect, "TLS 1.2"},
        {"alert", SEC_E_ILLEGAL_MESSAGE, SP_PROT_TLS1_2_CLIENT, true, mail::CannotConnect, "handshake failed"},
        {"client certificate required", SEC_E_OK, SP_PROT_TLS1_2_CLIENT, true, mail::CannotConnect, "client certificate", "CX;"},
    };
    for (const Case& c : cases) {
        script_ = Script{c.finalHandshake, c.protocol, c.certificateGood, {}, 0};
        ScriptedChannel channel;
        SchannelStream tls(channel, table_, check);
        channel.arrivals = {"S1;", c.second};
        EXPECT_EQ(tls.handshake(L"mail.example.com", Deadline::in(std::chrono::seconds(5))), c.expected) << c.name;
        EXPECT_NE(tls.failureDetail().find(c.detail), std::string::npos) << c.name << ": " << tls.failureDetail();
        tls.shutdown(Deadline::in(std::chrono::seconds(1)));
        EXPECT_EQ(channel.sent, c.finalHandshake == SEC_E_OK && c.second == std::string("S2;") ? "C0|C1|C2|" : "C0|C1|") << c.name;
    }
    ScriptedChannel silent;
    SchannelStream tls(silent, table_, check);
    EXPECT_EQ(tls.handshake(L"mail.example.com", Deadline::in(std::chrono::seconds(5))), mail::ConnectionDropped);
}

TEST_F(SchannelStreamTest, RenegotiationPassesTheChecksOfTheFirstHandshake)
{
    struct Case {
        const char* name;
        DWORD protocol;
        bool certificateGood;
        const char* detail;
    };
    const Case cases[] = {
        {"certificate", SP_PROT_TLS1_2_CLIENT, false, "refused for mail.example.com"},
        {"old protocol", SP_PROT_TLS1_1_CLIENT, true, "TLS 1.2"},
    };
    for (const Case& c : cases) {
        script_ = Script{};
        ScriptedChannel channel;
        SchannelStream tls(channel, table_, check);
        channel.arrivals = {"S1;", "S2;", "R;S3;", "D250 ok\r\n;"};
        ASSERT_EQ(tls.handshake(L"mail.example.com", Deadline::in(std::chrono::seconds(5))), mail::Ok);
        script_.protocol = c.protocol;
        script_.certificateGood = c.certificateGood;
        std::string into;
        // The same code as a refusal at the first handshake.
        EXPECT_EQ(tls.receive(into, Deadline::in(std::chrono::seconds(5))), mail::CannotConnect) << c.name;
        EXPECT_NE(tls.failureDetail().find(c.detail), std::string::npos) << c.name << ": " << tls.failureDetail();
        EXPECT_EQ(script_.renegotiations, 1) << c.name;
        // Nothing more crosses the session, either way.
        channel.sent.clear();
        EXPECT_EQ(tls.send("QUIT\r\n", Deadline::in(std::chrono::seconds(5))), mail::CannotConnect) << c.name;
        EXPECT_EQ(tls.receive(into, Deadline::in(std::chrono::seconds(5))), mail::CannotConnect) << c.name;
        tls.shutdown(Deadline::in(std::chrono::seconds(1)));
        EXPECT_EQ(into, "") << c.name;
        EXPECT_EQ(channel.sent, "") << c.name;
    }
}

TEST_F(SchannelStreamTest, EveryWaitEndsByItsDeadlineWhateverTheServerKeepsSending)
{
    enum Step { Handshake, Reply, ReplyToTheFinalDot };
    struct Case {
        const char* name;
        Step step;
        std::string forever;
        std::chrono::milliseconds left;
        MailCode expected;
    };
    std::string flood;
    for (int i = 0; i < 100; ++i)
        flood += "N;";
    const Case cases[] = {
        {"handshake messages that each ask for another", Handshake, "H;", std::chrono::milliseconds(50), mail::CannotConnect},
        {"records without data", Reply, "N;", std::chrono::milliseconds(50), mail::NoReplyInTime},
        {"renegotiations", ReplyToTheFinalDot, "R;S3;", std::chrono::milliseconds(50), mail::NoReplyInTime},
        // Well within the time, the bound on records without data in a row.
        {"a flood of records without data", Reply, flood, std::chrono::seconds(5), mail::UnexpectedReply},
    };
    for (const Case& c : cases) {
        script_ = Script{};
        ScriptedChannel channel;
        SchannelStream tls(channel, table_, check);
        MailCode got;
        if (c.step == Handshake) {
            channel.arrivals = {"S1;"};
            channel.forever = c.forever;
            got = tls.handshake(L"mail.example.com", Deadline::in(c.left));
        } else {
            channel.arrivals = {"S1;", "S2;"};
            ASSERT_EQ(tls.handshake(L"mail.example.com", Deadline::in(std::chrono::seconds(5))), mail::Ok);
            if (c.step == ReplyToTheFinalDot) {
                ASSERT_EQ(tls.send("\r\n.\r\n", Deadline::in(std::chrono::seconds(5))), mail::Ok);
            }
            channel.forever = c.forever;
            std::string into;
            got = tls.receive(into, Deadline::in(c.left));
        }
        EXPECT_EQ(got, c.expected) << c.name << ": " << tls.failureDetail();
        EXPECT_LT(channel.reads, ScriptedChannel::kGiveUpAfter) << c.name;
    }
}

TEST(ServerCertificateCheck, EveryChainFaultRefusesButUncheckedRevocation)
{
    const DWORD unchecked = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    for (int bit = 0; bit < 32; ++bit) {
        const DWORD fault = DWORD{1} << bit;
        const DWORD expected = (fault & unchecked) ? 0 : fault;
        EXPECT_EQ(refusedChainFaults(fault), expected) << std::hex << fault;
    }
}

} // namespace
} // namespace qel::mailcomponent
