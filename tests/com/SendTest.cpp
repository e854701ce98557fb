// Send against a recording mail component that this test program registers
// under "EasyMail.SMTP" for the current user: it logs every member call with
// its argument types and values, and answers as each test tells it.
#include <map>
#include <memory>

#include "QelMessage.h"
#include "automation/ComObject.h"
#include "automation/ErrorInformation.h"
#include "com/ComTestSupport.h"

namespace qel::test {
namespace {

// {5E0D3B5A-9C21-4D7E-8F44-1A2B3C4D5E6F}
const CLSID kRecorderClsid = {0x5e0d3b5a, 0x9c21, 0x4d7e, {0x8f, 0x44, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e, 0x6f}};
// {5E0D3B5A-9C21-4D7E-8F44-000000000000}: registered nowhere.
const CLSID kMissingClsid = {0x5e0d3b5a, 0x9c21, 0x4d7e, {0x8f, 0x44, 0, 0, 0, 0, 0, 0}};

struct Argument {
    VARTYPE type; // as passed, by-reference flag included
    std::wstring text;
};
struct RecordedCall {
    std::wstring member;
    WORD kind;
    std::vector<Argument> arguments; // in the host's order
};

struct Script {
    std::vector<RecordedCall> log;
    std::map<std::wstring, Variant> results; // member -> result
    std::wstring raiseOn;
    std::wstring lacking; // a member the component does not have
    int liveInstances = 0;
};

class RecordingMail final : public automation::ComObject<automation::Answers<IDispatch, &IID_IUnknown, &IID_IDispatch>> {
public:
    explicit RecordingMail(Script& script) : script_(script) { ++script_.liveInstances; }
    ~RecordingMail() override { --script_.liveInstances; }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override
    {
        if (script_.lacking == names[0])
            return DISP_E_UNKNOWNNAME;
        names_.push_back(names[0]);
        ids[0] = static_cast<DISPID>(names_.size());
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD kind, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                        UINT*) override
    {
        RecordedCall call{names_.at(id - 1), kind, {}};
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& a = params->rgvarg[i];
            VARIANT text;
            VariantInit(&text);
            VariantChangeType(&text, const_cast<VARIANT*>(&a), 0, VT_BSTR);
            call.arguments.push_back({a.vt, text.vt == VT_BSTR ? std::wstring(text.bstrVal, SysStringLen(text.bstrVal)) : L"?"});
            VariantClear(&text);
        }
        script_.log.push_back(call);
        if (call.member == script_.raiseOn) {
            *exception = EXCEPINFO{};
            exception->scode = static_cast<SCODE>(0x800A01F4);
            exception->bstrSource = SysAllocString(L"EasyMail.SMTP");
            exception->bstrDescription = SysAllocString(L"The recorder was told to fail");
            return DISP_E_EXCEPTION;
        }
        const auto found = script_.results.find(call.member);
        if (result && found != script_.results.end())
            found->second.copyTo(result);
        return S_OK;
    }

private:
    Script& script_;
    std::vector<std::wstring> names_;
};

class RecorderFactory final : public automation::ComObject<automation::Answers<IClassFactory, &IID_IUnknown, &IID_IClassFactory>> {
public:
    explicit RecorderFactory(Script& script) : script_(script) {}
    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** out) override
    {
        auto* mail = new RecordingMail(script_);
        const HRESULT hr = mail->QueryInterface(riid, out);
        mail->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    Script& script_;
};

// Wine does not read per-user classes, so the ProgID is pointed at the
// recorder machine-wide for the test's duration and restored afterwards.
constexpr const wchar_t* kProgIdKey = L"EasyMail.SMTP\\CLSID";

void pointProgIdAt(const std::wstring& clsid)
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, kProgIdKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid.c_str()),
                   static_cast<DWORD>((clsid.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void pointProgIdAt(const CLSID& clsid)
{
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    pointProgIdAt(std::wstring(text));
}

std::wstring currentProgIdTarget()
{
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_CLASSES_ROOT, kProgIdKey, nullptr, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return {};
    return text;
}

class SendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(
            CoRegisterClassObject(kRecorderClsid, factory.Get(), CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie));
        previousTarget = currentProgIdTarget();
        pointProgIdAt(kRecorderClsid);
        fillRenderer();
    }
    void fillRenderer()
    {
        renderer = createByProgId(L"QelMessage.Renderer");
        for (const auto& [name, value] : std::vector<std::pair<const wchar_t*, const wchar_t*>>{
                 {L"Message", L"Hello"}, {L"Account", L"acct"}, {L"Password", L"pw"}, {L"MailServer", L"smtp.example.com"},
                 {L"MailAddress", L"gateway@example.com"}, {L"ReplyAddress", L"me@example.com"}, {L"ReplyName", L"Me"}})
            ASSERT_HRESULT_SUCCEEDED(put(renderer.Get(), name, text(value).get()).hr);
        const Variant phone = text(L"5550101"), name = text(L"Ann");
        ASSERT_HRESULT_SUCCEEDED(call(renderer.Get(), L"AddRecipient", DISPATCH_METHOD, {phone.get(), name.get()}).hr);
    }
    void TearDown() override
    {
        renderer.Reset();
        CoRevokeClassObject(cookie);
        if (previousTarget.empty())
            RegDeleteTreeW(HKEY_CLASSES_ROOT, L"EasyMail.SMTP");
        else
            pointProgIdAt(previousTarget);
        EXPECT_EQ(script.liveInstances, 0) << "every mail component is released";
    }
    static Variant text(const wchar_t* value) { return Variant::ofText(std::u16string(value, value + wcslen(value))); }
    DispatchResult send() { return call(renderer.Get(), L"Send", DISPATCH_METHOD); }
    std::wstring errorText() { return textOf(get(renderer.Get(), L"ErrorText").value.get()); }

    Script script;
    ComPtr<IClassFactory> factory = automation::adopt<IClassFactory>(new RecorderFactory(script));
    DWORD cookie = 0;
    std::wstring previousTarget;
    ComPtr<IDispatch> renderer;
};

TEST_F(SendTest, DrivesTheComponentInOrderWithTheArgumentTypesItExpects)
{
    ASSERT_HRESULT_SUCCEEDED(put(renderer.Get(), L"PictureFile", text(L"C:\\photo.jpg").get()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(renderer.Get(), L"ErrorText", text(L"old failure").get()).hr);
    const DispatchResult r = send();
    ASSERT_HRESULT_SUCCEEDED(r.hr) << std::hex << r.scode << " " << std::string(r.description.begin(), r.description.end());
    EXPECT_EQ(r.value.get().vt, VT_I2);
    EXPECT_EQ(r.value.get().iVal, 0);
    EXPECT_EQ(errorText(), L"old failure");

    const std::wstring body = textOf(get(renderer.Get(), L"TranslatedMessage").value.get());
    const WORD put = DISPATCH_PROPERTYPUT, method = DISPATCH_METHOD;
    const VARTYPE byRef = VT_BYREF | VT_VARIANT;
    const std::vector<RecordedCall> expected{
        {L"Reset", method, {}},
        {L"BodyFormat", put, {{VT_I2, L"0"}}},
        {L"MailServer", put, {{VT_BSTR, L"smtp.example.com"}}},
        {L"Subject", put, {{VT_BSTR, L"Qel Message object"}}},
        {L"BodyText", put, {{VT_BSTR, body}}},
        {L"AddRecipient", method, {{byRef, L"gateway@example.com"}, {byRef, L"gateway@example.com"}, {VT_I2, L"1"}}},
        {L"From", put, {{VT_BSTR, L"Me"}}},
        {L"FromAddr", put, {{VT_BSTR, L"me@example.com"}}},
        {L"AddAttachment", method, {{byRef, L"C:\\photo.jpg"}, {VT_I2, L"0"}}},
        {L"Send", method, {}},
    };
    ASSERT_EQ(script.log.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(script.log[i].member, expected[i].member) << i;
        EXPECT_EQ(script.log[i].kind, expected[i].kind) << i;
        ASSERT_EQ(script.log[i].arguments.size(), expected[i].arguments.size()) << i;
        for (std::size_t a = 0; a < expected[i].arguments.size(); ++a) {
            EXPECT_EQ(script.log[i].arguments[a].type, expected[i].arguments[a].type) << i << "," << a;
            EXPECT_EQ(script.log[i].arguments[a].text, expected[i].arguments[a].text) << i << "," << a;
        }
    }
}

TEST_F(SendTest, WithoutAPictureNothingIsAttached)
{
    VARIANT nullValue;
    nullValue.vt = VT_NULL;
    const Variant empty = text(L""), extensionOnly = text(L".jpg");
    for (const VARIANT& picture : {VARIANT{}, nullValue, empty.get(), extensionOnly.get()}) {
        fillRenderer();
        script.log.clear();
        ASSERT_HRESULT_SUCCEEDED(put(renderer.Get(), L"PictureFile", picture).hr);
        EXPECT_EQ(send().value.get().iVal, 0) << picture.vt;
        ASSERT_FALSE(script.log.empty());
        EXPECT_EQ(script.log.back().member, L"Send");
        for (const RecordedCall& made : script.log)
            EXPECT_NE(made.member, L"AddAttachment") << picture.vt;
    }
}

TEST_F(SendTest, MailSettingsAreCheckedInOrderBeforeAnyComponentIsMade)
{
    VARIANT nullValue;
    nullValue.vt = VT_NULL;
    const Variant empty = text(L"");
    const std::vector<std::tuple<const wchar_t*, VARIANT, std::wstring>> cases{
        {L"MailAddress", nullValue, L"Invalid mail address"},
        {L"MailServer", nullValue, L"Invalid mail server"},
        {L"ReplyAddress", nullValue, L"Invalid mail Reply Address"},
        {L"MailAddress", empty.get(), L"Invalid mail address"},
        {L"MailServer", VARIANT{}, L"Invalid mail server"},
        {L"ReplyAddress", empty.get(), L"Invalid mail Reply Address"},
        {L"ReplyName", VARIANT{}, L"Invalid mail Reply Name"},
    };
    for (const auto& [property, value, words] : cases) {
        fillRenderer();
        ASSERT_HRESULT_SUCCEEDED(put(renderer.Get(), property, value).hr);
        const DispatchResult r = send();
        EXPECT_EQ(r.value.get().iVal, 1);
        EXPECT_EQ(errorText(), words);
        EXPECT_NE(textOf(get(renderer.Get(), L"TranslatedMessage").value.get()).find(L"=====End"), std::wstring::npos)
            << "Translate ran first";
    }
    EXPECT_TRUE(script.log.empty()) << "no component was created";
}

TEST_F(SendTest, TranslateFailuresEndTheCallFirst)
{
    ASSERT_HRESULT_SUCCEEDED(put(renderer.Get(), L"Message", text(L"").get()).hr);
    ASSERT_HRESULT_SUCCEEDED(put(renderer.Get(), L"MailServer", VARIANT{}).hr);
    EXPECT_EQ(send().value.get().iVal, 1);
    EXPECT_EQ(errorText(), L"Invalid message (Empty)");
    EXPECT_TRUE(script.log.empty());
}

TEST_F(SendTest, FailureCodesBecomeWords)
{
    for (const auto& [code, words] : std::vector<std::pair<int, std::wstring>>{
             {9, L"Message send error : There was an error connecting to the SMTP mail server."},
             {3, L"Message send error :  The process has run out of memory."},
             {99, L"Message send error : "}}) {
        script.results[L"Send"] = Variant::ofInteger(static_cast<std::int16_t>(code));
        EXPECT_EQ(send().value.get().iVal, 1);
        EXPECT_EQ(errorText(), words);
    }
    script.results[L"Send"] = text(L"0");
    EXPECT_EQ(send().value.get().iVal, 0) << "results compare as numbers";
}

TEST_F(SendTest, AFailedAttachmentIsNotSent)
{
    ASSERT_HRESULT_SUCCEEDED(put(renderer.Get(), L"PictureFile", text(L"missing.jpg").get()).hr);
    script.results[L"AddAttachment"] = Variant::ofInteger(10);
    EXPECT_EQ(send().value.get().iVal, 1);
    EXPECT_EQ(errorText(), L"Error attaching file. Check file exists : There was an error opening a file. If you have "
                           L"specified file attachments, ensure that they exist and that you have access to them.");
    EXPECT_EQ(script.log.back().member, L"AddAttachment");
}

TEST_F(SendTest, ComponentErrorsReachTheHostUnchanged)
{
    ASSERT_HRESULT_SUCCEEDED(put(renderer.Get(), L"ErrorText", text(L"unchanged").get()).hr);
    script.raiseOn = L"Subject";
    const DispatchResult r = send();
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, static_cast<SCODE>(0x800A01F4));
    EXPECT_EQ(r.source, L"EasyMail.SMTP");
    EXPECT_EQ(r.description, L"The recorder was told to fail");
    EXPECT_EQ(errorText(), L"unchanged");
}

TEST_F(SendTest, AMissingMemberLeavesNoEarlierErrorBehind)
{
    automation::describeFailure(E_FAIL, {L"Earlier", L"an earlier failure nobody read", nullptr});
    script.lacking = L"FromAddr";
    const DispatchResult r = send();
    EXPECT_EQ(r.scode, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(r.source + r.description, L"");
}

TEST_F(SendTest, NoComponentRaisesErrorFourTwentyNine)
{
    ASSERT_HRESULT_SUCCEEDED(put(renderer.Get(), L"ErrorText", text(L"unchanged").get()).hr);
    pointProgIdAt(kMissingClsid);
    const DispatchResult r = send();
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, static_cast<SCODE>(0x800A01AD));
    EXPECT_EQ(r.source, L"QelMessage");
    EXPECT_EQ(errorText(), L"unchanged");
}

} // namespace
} // namespace qel::test
