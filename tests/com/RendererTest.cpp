// Renderer through its vtable, as an early-bound host (C++, VB) uses it.
#include "QelMessage.h"
#include "com/ComTestSupport.h"

#include <psapi.h>

namespace qel::test {
namespace {

using Setter = HRESULT (STDMETHODCALLTYPE _Renderer::*)(VARIANT);
using Getter = HRESULT (STDMETHODCALLTYPE _Renderer::*)(VARIANT*);

Variant bstr(const std::wstring& value)
{
    return Variant::ofText(std::u16string(value.begin(), value.end()));
}

Variant number(LONG value)
{
    Variant v;
    v.receive()->vt = VT_I4;
    const_cast<VARIANT&>(v.get()).lVal = value;
    return v;
}

Variant null()
{
    Variant v;
    v.receive()->vt = VT_NULL;
    return v;
}

class RendererTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_Renderer, nullptr, CLSCTX_INPROC_SERVER, IID__Renderer,
                                                  reinterpret_cast<void**>(renderer.GetAddressOf())));
    }

    void set(Setter setter, const Variant& value) { ASSERT_HRESULT_SUCCEEDED((renderer.Get()->*setter)(value.get())); }
    void set(Setter setter, const std::wstring& value) { set(setter, bstr(value)); }
    Variant read(Getter getter)
    {
        Variant value;
        EXPECT_HRESULT_SUCCEEDED((renderer.Get()->*getter)(value.receive()));
        return value;
    }
    std::wstring readText(Getter getter) { return textOf(read(getter).get()); }

    void addRecipient(const Variant& phone, const Variant& name)
    {
        VARIANT p = phone.get(), n = name.get(); // shallow: the call copies what it keeps
        ASSERT_HRESULT_SUCCEEDED(renderer->AddRecipient(&p, &n));
    }

    // Result of Translate: 0 or 1, or the failure status.
    HRESULT translate(short* result)
    {
        Variant value;
        const HRESULT hr = renderer->Translate(value.receive());
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(value.get().vt, VT_I2);
            *result = value.get().iVal;
        }
        return hr;
    }

    void fillValidMessage()
    {
        set(&_Renderer::put_Message, L"Hello");
        set(&_Renderer::put_Account, L"acct");
        set(&_Renderer::put_Password, L"pw");
        set(&_Renderer::put_ReplyAddress, L"me@example.com");
        addRecipient(bstr(L"5550101"), bstr(L"Ann"));
    }

    // The field block between the markers, decrypted by the object itself.
    std::wstring gatewayBody()
    {
        const std::wstring outer = readText(&_Renderer::get_TranslatedMessage);
        const std::wstring start = L"=====Start Qel encryption======\r\n";
        const auto from = outer.find(start) + start.size();
        const auto to = outer.find(L"\r\n=====End Qel encryption======");
        Variant hex = bstr(outer.substr(from, to - from));
        Variant body;
        EXPECT_HRESULT_SUCCEEDED(renderer->MyDecrypt(const_cast<VARIANT*>(&hex.get()), body.receive()));
        return textOf(body.get());
    }

    ComPtr<_Renderer> renderer;
};

TEST_F(RendererTest, NewObjectHasItsDefaults)
{
    for (Getter g : {&_Renderer::get_ErrorText, &_Renderer::get_Message, &_Renderer::get_Account, &_Renderer::get_Password}) {
        const Variant v = read(g);
        EXPECT_EQ(v.get().vt, VT_BSTR);
        EXPECT_EQ(textOf(v.get()), L"");
    }
    for (Getter g : {&_Renderer::get_MailServer, &_Renderer::get_MailAddress, &_Renderer::get_ReplyAddress,
                     &_Renderer::get_ReplyName, &_Renderer::get_TranslatedMessage, &_Renderer::get_PictureFile,
                     &_Renderer::get_Campaign})
        EXPECT_EQ(read(g).get().vt, VT_EMPTY);
    short result = -1;
    set(&_Renderer::put_Message, L"m");
    set(&_Renderer::put_Account, L"a");
    set(&_Renderer::put_Password, L"p");
    ASSERT_HRESULT_SUCCEEDED(translate(&result));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(readText(&_Renderer::get_ErrorText), L"No recipients (Empty)");
}

TEST_F(RendererTest, WorkedExampleComposesTheGatewayTextByteForByte)
{
    set(&_Renderer::put_Account, L"acct-001");
    set(&_Renderer::put_Password, L"s3cret!");
    set(&_Renderer::put_Message, L"Meeting moved to 3 pm");
    set(&_Renderer::put_Campaign, L"Spring sale");
    set(&_Renderer::put_ReplyAddress, L"reply@example.com");
    set(&_Renderer::put_ErrorText, L"earlier failure");
    addRecipient(bstr(L"5550101"), bstr(L"Ann"));
    addRecipient(bstr(L"5550102"), bstr(L"Ben"));

    short result = -1;
    ASSERT_HRESULT_SUCCEEDED(translate(&result));
    EXPECT_EQ(result, 0);

    const std::wstring body = L"SMS-AccountId:=acct-001\r\n"
                              L"SMS-SecurityKey:=s3cret!\r\n"
                              L"SMS-Version:=1.0.22\r\n"
                              L"SMS-BPID:=0\r\n"
                              L"SMS-Campaign:=Spring sale\r\n"
                              L"SMS-Recp:=5550101\r\n"
                              L"SMS-Recn:=Ann\r\n"
                              L"SMS-Recp:=5550102\r\n"
                              L"SMS-Recn:=Ben\r\n"
                              L"SMS-Body:=Meeting moved to 3 pm\r\n"
                              L"SMS-Name:=reply@example.com\r\n";
    const std::wstring expected = L"To: 5550101 (Ann), 5550102 (Ben), \r\n"
                                  L"Message: Meeting moved to 3 pm\r\n"
                                  L"=====Start Qel encryption======\r\n"
                                  + expectedCurrentEncryption(body) + L"\r\n=====End Qel encryption======";
    EXPECT_EQ(readText(&_Renderer::get_TranslatedMessage), expected);
    EXPECT_EQ(readText(&_Renderer::get_ErrorText), L"earlier failure") << "success never clears ErrorText";
}

TEST_F(RendererTest, ChecksRunInOrderAndTheFirstFailureDecides)
{
    set(&_Renderer::put_TranslatedMessage, L"kept");
    set(&_Renderer::put_Campaign, std::wstring(51, L'c'));
    set(&_Renderer::put_PictureFile, L"photo.png");
    const std::vector<std::pair<std::function<void()>, std::wstring>> steps{
        {[] {}, L"Invalid message (Empty)"},
        {[&] { set(&_Renderer::put_Message, L"m"); }, L"Invalid account (Empty)"},
        {[&] { set(&_Renderer::put_Account, L"a"); }, L"Invalid password (Empty)"},
        {[&] { set(&_Renderer::put_Password, L"p"); }, L"Campaign is too long"},
        {[&] { set(&_Renderer::put_Campaign, std::wstring(50, L'c')); }, L"No recipients (Empty)"},
        {[&] { addRecipient(bstr(L"1"), bstr(L"n")); }, L"Invalid picture format, must be .jpg"},
    };
    for (const auto& [change, text] : steps) {
        change();
        short result = -1;
        ASSERT_HRESULT_SUCCEEDED(translate(&result));
        EXPECT_EQ(result, 1) << std::string(text.begin(), text.end());
        EXPECT_EQ(readText(&_Renderer::get_ErrorText), text);
        EXPECT_EQ(readText(&_Renderer::get_TranslatedMessage), L"kept");
    }
    set(&_Renderer::put_PictureFile, L"photo.JPG");
    short result = -1;
    ASSERT_HRESULT_SUCCEEDED(translate(&result));
    EXPECT_EQ(result, 1) << "the extension is case-sensitive";
    set(&_Renderer::put_PictureFile, L"photo.jpg");
    ASSERT_HRESULT_SUCCEEDED(translate(&result));
    EXPECT_EQ(result, 0);
    EXPECT_NE(gatewayBody().find(L"SMS-IsMMS:=1\r\nSMS-Recp:=1\r\n"), std::wstring::npos);
}

TEST_F(RendererTest, CampaignAndPictureLines)
{
    fillValidMessage();
    short result = -1;
    ASSERT_HRESULT_SUCCEEDED(translate(&result));
    EXPECT_EQ(gatewayBody().find(L"SMS-Campaign"), std::wstring::npos) << "an Empty campaign writes no line";

    set(&_Renderer::put_Campaign, L"Joe's");
    set(&_Renderer::put_PictureFile, L".jpg");
    ASSERT_HRESULT_SUCCEEDED(translate(&result));
    EXPECT_EQ(result, 0);
    const std::wstring body = gatewayBody();
    EXPECT_NE(body.find(L"SMS-BPID:=0\r\nSMS-Campaign:=Joe`s\r\nSMS-Recp:="), std::wstring::npos);
    EXPECT_EQ(body.find(L"SMS-IsMMS"), std::wstring::npos);
    const Variant picture = read(&_Renderer::get_PictureFile);
    EXPECT_EQ(picture.get().vt, VT_BSTR);
    EXPECT_EQ(textOf(picture.get()), L"") << "a name too short for the extension is dropped";

    set(&_Renderer::put_PictureFile, null());
    set(&_Renderer::put_Campaign, null());
    ASSERT_HRESULT_SUCCEEDED(translate(&result));
    EXPECT_EQ(result, 0) << "Null skips both checks";
    EXPECT_EQ(gatewayBody().find(L"SMS-Campaign"), std::wstring::npos);
}

TEST_F(RendererTest, ValuesEnterAsTheirText)
{
    fillValidMessage();
    set(&_Renderer::put_Message, null());
    addRecipient(number(5550102), Variant());
    Variant half;
    half.receive()->vt = VT_R8;
    const_cast<VARIANT&>(half.get()).dblVal = 1.5;
    set(&_Renderer::put_ReplyAddress, half);
    Variant yes;
    yes.receive()->vt = VT_BOOL;
    const_cast<VARIANT&>(yes.get()).boolVal = VARIANT_TRUE;
    set(&_Renderer::put_Account, yes);
    Variant date;
    date.receive()->vt = VT_DATE;
    const_cast<VARIANT&>(date.get()).date = 45000.75; // 15 March 2023, 18:00
    set(&_Renderer::put_Campaign, date);

    short result = -1;
    ASSERT_HRESULT_SUCCEEDED(translate(&result));
    EXPECT_EQ(result, 0) << "Null is not blank";
    const std::wstring outer = readText(&_Renderer::get_TranslatedMessage);
    EXPECT_EQ(outer.substr(0, outer.find(L"=====")), L"To: 5550101 (Ann), 5550102 (), \r\nMessage: \r\n");
    const std::wstring body = gatewayBody();
    EXPECT_NE(body.find(L"SMS-AccountId:=True\r\n"), std::wstring::npos) << std::string(body.begin(), body.end());
    EXPECT_NE(body.find(L"SMS-Campaign:=3/15/2023 6:00:00 PM\r\n"), std::wstring::npos) << "the pinned locale is en-US";
    EXPECT_NE(body.find(L"SMS-Recp:=5550102\r\nSMS-Recn:=\r\nSMS-Body:=\r\nSMS-Name:=1.5\r\n"), std::wstring::npos);
}

TEST_F(RendererTest, RecipientsAreCopiesOfTheValuesBehindReferences)
{
    fillValidMessage();
    BSTR phone = SysAllocString(L"5550199");
    VARIANT byReference;
    byReference.vt = VT_BYREF | VT_BSTR;
    byReference.pbstrVal = &phone;
    const Variant zoe = bstr(L"Zoe");
    VARIANT name = zoe.get();
    ASSERT_HRESULT_SUCCEEDED(renderer->AddRecipient(&byReference, &name));
    ASSERT_HRESULT_SUCCEEDED(renderer->AddRecipient(&byReference, &name)) << "duplicates are kept";
    SysFreeString(phone);
    phone = SysAllocString(L"0000000");
    short result = -1;
    ASSERT_HRESULT_SUCCEEDED(translate(&result));
    EXPECT_EQ(byReference.vt, VT_BYREF | VT_BSTR);
    EXPECT_EQ(std::wstring(*byReference.pbstrVal), L"0000000") << "the argument itself is not changed";
    SysFreeString(phone);
    const std::wstring outer = readText(&_Renderer::get_TranslatedMessage);
    EXPECT_EQ(outer.substr(0, outer.find(L"\r\n")), L"To: 5550101 (Ann), 5550199 (Zoe), 5550199 (Zoe), ");
}

TEST_F(RendererTest, AHundredThousandRecipients)
{
    fillValidMessage();
    for (int i = 2; i <= 100000; ++i)
        addRecipient(number(i), bstr(L"n"));
    short result = -1;
    ASSERT_HRESULT_SUCCEEDED(translate(&result));
    EXPECT_EQ(result, 0);
    const std::wstring outer = readText(&_Renderer::get_TranslatedMessage);
    const std::wstring head = outer.substr(0, outer.find(L"\r\n"));
    EXPECT_EQ(head.substr(0, 30), L"To: 5550101 (Ann), 2 (n), 3 (n");
    EXPECT_EQ(head.substr(head.size() - 15), L"), 100000 (n), ");
}

TEST_F(RendererTest, AnUnencryptableCharacterRaisesAndChangesNothing)
{
    fillValidMessage();
    set(&_Renderer::put_ErrorText, L"before");
    set(&_Renderer::put_TranslatedMessage, L"before");
    // Account text starts at body position 16, where the key character is
    // 'n' (110): 160 + 110 leaves the byte range.
    set(&_Renderer::put_Account, L"\u00A0");
    short result = -1;
    EXPECT_EQ(translate(&result), static_cast<HRESULT>(0x800A0005));
    const RaisedError raised = takeErrorInfo();
    EXPECT_EQ(raised.source, L"QelMessage");
    EXPECT_EQ(raised.description, L"Invalid procedure call or argument");
    EXPECT_EQ(readText(&_Renderer::get_ErrorText), L"before");
    EXPECT_EQ(readText(&_Renderer::get_TranslatedMessage), L"before");
}

// ---- the four text methods ----

using TextMethod = HRESULT (STDMETHODCALLTYPE _Renderer::*)(VARIANT*, VARIANT*);

struct MethodOutcome {
    HRESULT hr;
    Variant result;
};

MethodOutcome callText(_Renderer* r, TextMethod method, const Variant& argument)
{
    VARIANT inpw = argument.get();
    MethodOutcome outcome{S_OK, Variant()};
    outcome.hr = (r->*method)(&inpw, outcome.result.receive());
    EXPECT_EQ(inpw.vt, argument.get().vt) << "inpw is left unchanged";
    return outcome;
}

Variant byteArray(const std::vector<BYTE>& bytes, LONG lowerBound = 0)
{
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), lowerBound};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(data));
    SafeArrayUnaccessData(array);
    Variant v;
    v.receive()->vt = VT_ARRAY | VT_UI1;
    const_cast<VARIANT&>(v.get()).parray = array;
    return v;
}

TEST_F(RendererTest, TextMethodsAcceptEmptyNumbersAndTextAndRefuseNull)
{
    auto* r = renderer.Get();
    EXPECT_EQ(textOf(callText(r, &_Renderer::MyEncrypt, Variant()).result.get()), L"");
    EXPECT_EQ(textOf(callText(r, &_Renderer::MyEncrypt, number(-42)).result.get()), expectedCurrentEncryption(L"-42"));
    EXPECT_EQ(textOf(callText(r, &_Renderer::MyDecrypt, bstr(expectedCurrentEncryption(L"Hi there"))).result.get()),
              L"Hi there");
    for (TextMethod m : {&_Renderer::MyEncrypt, &_Renderer::MyDecrypt, &_Renderer::MyOldDecrypt})
        EXPECT_EQ(callText(r, m, null()).hr, static_cast<HRESULT>(0x800A005E));
    EXPECT_EQ(takeErrorInfo().description, L"Invalid use of Null");
    EXPECT_EQ(callText(r, &_Renderer::MyDecrypt, Variant()).hr, static_cast<HRESULT>(0x800A0009));
    EXPECT_EQ(callText(r, &_Renderer::MyOldDecrypt, Variant()).hr, static_cast<HRESULT>(0x800A0009));
    EXPECT_EQ(callText(r, &_Renderer::MyDecrypt, bstr(L"zz")).hr, static_cast<HRESULT>(0x800A000D));
}

TEST_F(RendererTest, LegacyMethodsTakeTextOrByteArrays)
{
    auto* r = renderer.Get();
    const MethodOutcome text = callText(r, &_Renderer::MyOldEncrypt, bstr(L"AB"));
    ASSERT_HRESULT_SUCCEEDED(text.hr);
    EXPECT_EQ(textOf(text.result.get()).size(), 64u);
    EXPECT_EQ(textOf(callText(r, &_Renderer::MyOldEncrypt, byteArray({0x41, 0, 0x42, 0})).result.get()),
              textOf(text.result.get()));
    EXPECT_EQ(textOf(callText(r, &_Renderer::MyOldDecrypt, Variant::copyOf(text.result.get())).result.get()), L"AB");

    const Variant notText[] = {Variant(), null(), number(7)};
    for (const Variant& bad : notText)
        EXPECT_EQ(callText(r, &_Renderer::MyOldEncrypt, bad).hr, static_cast<HRESULT>(0x800A000D));
    EXPECT_EQ(callText(r, &_Renderer::MyOldEncrypt, bstr(L"")).hr, static_cast<HRESULT>(0x800A0009));
    EXPECT_EQ(callText(r, &_Renderer::MyOldEncrypt, byteArray({})).hr, static_cast<HRESULT>(0x800A0009));
    EXPECT_EQ(callText(r, &_Renderer::MyOldEncrypt, byteArray({1, 2}, 1)).hr, static_cast<HRESULT>(0x800A0009));
    Variant unallocated;
    unallocated.receive()->vt = VT_ARRAY | VT_UI1;
    EXPECT_EQ(callText(r, &_Renderer::MyOldEncrypt, unallocated).hr, static_cast<HRESULT>(0x800A0009));

    // Three bytes decrypt to a text of one and a half characters: the odd
    // byte stays in the string, as the host's own byte-to-string assignment keeps it.
    const MethodOutcome odd = callText(r, &_Renderer::MyOldEncrypt, byteArray({0x41, 0, 0x42}));
    const MethodOutcome back = callText(r, &_Renderer::MyOldDecrypt, Variant::copyOf(odd.result.get()));
    ASSERT_EQ(back.result.get().vt, VT_BSTR);
    EXPECT_EQ(SysStringByteLen(back.result.get().bstrVal), 3u);
    EXPECT_EQ(SysStringLen(back.result.get().bstrVal), 1u);
}

TEST_F(RendererTest, TextMethodsLeaveMemoryFlat)
{
    auto* r = renderer.Get();
    const Variant plain = bstr(std::wstring(160, L'x'));
    const Variant current = bstr(expectedCurrentEncryption(std::wstring(160, L'x')));
    const MethodOutcome legacy = callText(r, &_Renderer::MyOldEncrypt, plain);
    // Wine reports PrivateUsage as 0; PagefileUsage is the same charge on
    // Windows and does move under Wine.
    const auto privateBytes = [] {
        PROCESS_MEMORY_COUNTERS_EX counters{};
        GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
        return std::max(counters.PrivateUsage, counters.PagefileUsage);
    };
    const auto run = [&](int calls) {
        for (int i = 0; i < calls; ++i) {
            callText(r, &_Renderer::MyEncrypt, plain);
            callText(r, &_Renderer::MyDecrypt, current);
            callText(r, &_Renderer::MyOldEncrypt, plain);
            callText(r, &_Renderer::MyOldDecrypt, legacy.result);
        }
    };
    // Two equal batches after a warm-up: a leak grows both, while a one-off
    // step of the heap (seen once under load) grows only one. 100,000 calls
    // a batch turn the smallest leak, one heap block a call, into over 1 MiB.
    run(10000);
    SIZE_T growth[2];
    for (SIZE_T& grown : growth) {
        const SIZE_T before = privateBytes();
        ASSERT_GT(before, 0u) << "the platform reports no memory use to compare";
        run(25000);
        const SIZE_T after = privateBytes();
        grown = after - std::min(before, after);
    }
    EXPECT_LT(std::min(growth[0], growth[1]), SIZE_T{1} << 20) << growth[0] << " and " << growth[1] << " bytes";
}

} // namespace
} // namespace qel::test
