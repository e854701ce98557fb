// Both classes as late-bound hosts (scripts) see them: names and DISPIDs from
// the type library, errors as exceptions, any VARIANT a host can pass.
#include <functional>

#include "QelCipher.h"
#include "QelMessage.h"
#include "automation/ComModule.h"
#include "com/ComTestSupport.h"

namespace qel::test {
namespace {

struct Member {
    const wchar_t* name;
    MEMBERID id;
    INVOKEKIND kind;
};

std::vector<Member> rendererMembers()
{
    std::vector<Member> members;
    const wchar_t* properties[] = {L"MailServer", L"MailAddress", L"ReplyAddress", L"ReplyName", L"ErrorText", L"Message",
                                   L"Account", L"Password", L"TranslatedMessage", L"PictureFile", L"Campaign"};
    for (int i = 0; i < 11; ++i)
        for (INVOKEKIND kind : {INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF})
            members.push_back({properties[i], 0x40030000 + i, kind});
    members.push_back({L"GetINetStatus", 0x60030000, INVOKE_FUNC});
    members.push_back({L"AddRecipient", 0x60030001, INVOKE_FUNC});
    members.push_back({L"Send", 0x60030002, INVOKE_FUNC});
    members.push_back({L"Translate", 0x60030003, INVOKE_FUNC});
    members.push_back({L"MyOldEncrypt", 0x60030005, INVOKE_FUNC});
    members.push_back({L"MyDecrypt", 0x60030006, INVOKE_FUNC});
    members.push_back({L"MyEncrypt", 0x60030007, INVOKE_FUNC});
    members.push_back({L"MyOldDecrypt", 0x60030008, INVOKE_FUNC});
    return members;
}

void expectMembers(IDispatch* object, const std::vector<Member>& expected)
{
    // The dispatch view lists IUnknown's and IDispatch's members too; the
    // vtable view of the dual interface holds just the object's own.
    ComPtr<ITypeInfo> dispatchView;
    ASSERT_HRESULT_SUCCEEDED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &dispatchView));
    HREFTYPE vtableReference = 0;
    ASSERT_HRESULT_SUCCEEDED(dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableReference));
    ComPtr<ITypeInfo> info;
    ASSERT_HRESULT_SUCCEEDED(dispatchView->GetRefTypeInfo(vtableReference, &info));
    TYPEATTR* attributes = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attributes));
    EXPECT_EQ(attributes->cFuncs, expected.size());
    EXPECT_TRUE(attributes->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < expected.size(); ++i) {
        FUNCDESC* function = nullptr;
        ASSERT_HRESULT_SUCCEEDED(info->GetFuncDesc(i, &function));
        BSTR name = nullptr;
        info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr);
        EXPECT_EQ(std::wstring(name), expected[i].name) << i;
        EXPECT_EQ(function->memid, expected[i].id) << i;
        EXPECT_EQ(function->invkind, expected[i].kind) << i;
        EXPECT_EQ(function->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << "slot of member " << i;
        SysFreeString(name);
        info->ReleaseFuncDesc(function);
    }
}

TEST(TypeLibraryTest, RendererMembersInOrderWithTheirDispids)
{
    const ComPtr<IDispatch> renderer = createByProgId(L"QelMessage.Renderer");
    expectMembers(renderer.Get(), rendererMembers());

    ComPtr<ITypeInfo> info;
    ASSERT_HRESULT_SUCCEEDED(renderer->GetTypeInfo(0, 0, &info));
    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_HRESULT_SUCCEEDED(info->GetContainingTypeLib(&library, &index));
    TLIBATTR* attributes = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library->GetLibAttr(&attributes));
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_QelMessage));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0x409u);
    library->ReleaseTLibAttr(attributes);
    BSTR name = nullptr, help = nullptr;
    library->GetDocumentation(-1, &name, &help, nullptr, nullptr);
    EXPECT_EQ(std::wstring(name), L"QelMessage");
    EXPECT_EQ(std::wstring(help), L"Qel Message Object");
    SysFreeString(name);
    SysFreeString(help);
}

TEST(TypeLibraryTest, CipherMembersInOrderWithTheirDispids)
{
    const ComPtr<IDispatch> cipher = createByProgId(L"QelCipher.Cipher");
    expectMembers(cipher.Get(), {{L"CipherString", 0x40030000, INVOKE_PROPERTYGET},
                                 {L"CipherString", 0x40030000, INVOKE_PROPERTYPUT},
                                 {L"CipherString", 0x40030000, INVOKE_PROPERTYPUTREF},
                                 {L"EnhancedEncrypt", 0x60030000, INVOKE_FUNC},
                                 {L"EnhancedDecrypt", 0x60030001, INVOKE_FUNC}});
}

Variant text(const wchar_t* value)
{
    return Variant::ofText(std::u16string(value, value + wcslen(value)));
}

TEST(DispatchTest, NumberedErrorsArriveAsExceptionsWithNumberSourceAndDescription)
{
    const ComPtr<IDispatch> renderer = createByProgId(L"QelMessage.Renderer");
    struct Case {
        const wchar_t* member;
        VARIANT argument;
        SCODE scode;
        const wchar_t* description;
    };
    const Variant one = text(L"A"), badPair = text(L"AZ"), low = text(L"00");
    VARIANT nullValue;
    nullValue.vt = VT_NULL;
    const Case cases[] = {
        {L"MyDecrypt", one.get(), static_cast<SCODE>(0x800A0009), L"Subscript out of range"},
        {L"MyDecrypt", badPair.get(), static_cast<SCODE>(0x800A000D), L"Type mismatch"},
        {L"MyDecrypt", low.get(), static_cast<SCODE>(0x800A0005), L"Invalid procedure call or argument"},
        {L"MyEncrypt", nullValue, static_cast<SCODE>(0x800A005E), L"Invalid use of Null"},
        {L"MyOldEncrypt", nullValue, static_cast<SCODE>(0x800A000D), L"Type mismatch"},
    };
    for (const Case& c : cases) {
        const DispatchResult r = call(renderer.Get(), c.member, DISPATCH_METHOD, {c.argument});
        EXPECT_EQ(r.hr, DISP_E_EXCEPTION) << c.member;
        EXPECT_EQ(r.scode, c.scode) << c.member;
        EXPECT_EQ(r.source, L"QelMessage");
        EXPECT_EQ(r.description, c.description);
    }

    const ComPtr<IDispatch> cipher = createByProgId(L"QelCipher.Cipher");
    const DispatchResult r = call(cipher.Get(), L"EnhancedDecrypt", DISPATCH_METHOD);
    EXPECT_EQ(r.scode, static_cast<SCODE>(0x800A0009));
    EXPECT_EQ(r.source, L"QelCipher");
}

TEST(DispatchTest, TranslateByNameReportsContentFailuresAsResults)
{
    const ComPtr<IDispatch> renderer = createByProgId(L"QelMessage.Renderer");
    DispatchResult r = call(renderer.Get(), L"Translate", DISPATCH_METHOD);
    ASSERT_HRESULT_SUCCEEDED(r.hr);
    EXPECT_EQ(r.value.get().vt, VT_I2);
    EXPECT_EQ(r.value.get().iVal, 1);
    EXPECT_EQ(textOf(get(renderer.Get(), L"ErrorText").value.get()), L"Invalid message (Empty)");
}

// Every kind of VARIANT a host can pass, by value and by reference.
class VariantCatalogue {
public:
    VariantCatalogue()
    {
        const auto add = [this](VARTYPE type, const std::function<void(VARIANT&)>& fill) {
            VARIANT v;
            VariantInit(&v);
            v.vt = type;
            fill(v);
            values_.push_back(v);
        };
        add(VT_EMPTY, [](VARIANT&) {});
        add(VT_NULL, [](VARIANT&) {});
        add(VT_I2, [](VARIANT& v) { v.iVal = -7; });
        add(VT_I4, [](VARIANT& v) { v.lVal = 5550101; });
        add(VT_R8, [](VARIANT& v) { v.dblVal = 1.5; });
        add(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 12345; });
        add(VT_DATE, [](VARIANT& v) { v.date = 45000.75; });
        add(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; });
        add(VT_ERROR, [](VARIANT& v) { v.scode = DISP_E_PARAMNOTFOUND; });
        add(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocString(L""); });
        add(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocStringLen(L"a\0b", 3); });
        add(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocString(L"4142434445"); });
        add(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocStringLen(nullptr, 10'000'000); std::fill_n(v.bstrVal, 10'000'000, L'7'); });
        add(VT_DISPATCH, [](VARIANT& v) { v.pdispVal = createByProgId(L"QelCipher.Cipher").Detach(); });
        add(VT_UNKNOWN, [](VARIANT& v) { v.punkVal = createByProgId(L"QelCipher.Cipher").Detach(); });
        add(VT_DISPATCH, [](VARIANT& v) { v.pdispVal = nullptr; });
        add(VT_ARRAY | VT_UI1, [](VARIANT& v) { v.parray = bytes(0, 6); });
        add(VT_ARRAY | VT_UI1, [](VARIANT& v) { v.parray = bytes(1, 6); });
        add(VT_ARRAY | VT_UI1, [](VARIANT& v) { v.parray = bytes(0, 0); });
        add(VT_ARRAY | VT_UI1, [](VARIANT& v) { v.parray = nullptr; });
        add(VT_ARRAY | VT_UI1, [](VARIANT& v) {
            SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 0}};
            v.parray = SafeArrayCreate(VT_UI1, 2, bounds);
        });
        add(VT_ARRAY | VT_VARIANT, [](VARIANT& v) {
            SAFEARRAYBOUND bound{2, 0};
            v.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
        });
        const std::size_t direct = values_.size();
        referenced_.resize(direct);
        for (std::size_t i = 0; i < direct; ++i) {
            VariantInit(&referenced_[i]);
            VariantCopy(&referenced_[i], &values_[i]);
            VARIANT byReference;
            byReference.vt = VT_BYREF | VT_VARIANT;
            byReference.pvarVal = &referenced_[i];
            values_.push_back(byReference);
        }
        VARIANT byReferenceText;
        byReferenceText.vt = VT_BYREF | VT_BSTR;
        byReferenceText.pbstrVal = &values_[11].bstrVal;
        values_.push_back(byReferenceText);
    }
    ~VariantCatalogue()
    {
        for (auto& v : values_)
            if (!(v.vt & VT_BYREF))
                VariantClear(&v);
        for (auto& v : referenced_)
            VariantClear(&v);
    }
    const std::vector<VARIANT>& values() const { return values_; }

private:
    static SAFEARRAY* bytes(LONG lowerBound, ULONG count)
    {
        SAFEARRAYBOUND bound{count, lowerBound};
        SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
        BYTE* data = nullptr;
        SafeArrayAccessData(array, reinterpret_cast<void**>(&data));
        for (ULONG i = 0; i < count; ++i)
            data[i] = static_cast<BYTE>(0x41 + i);
        SafeArrayUnaccessData(array);
        return array;
    }
    std::vector<VARIANT> values_;
    std::vector<VARIANT> referenced_;
};

// A defined outcome: success, a numbered error, or the dispatcher's refusal
// of an argument it cannot pass.
void expectDefined(const DispatchResult& r, const std::wstring& what)
{
    if (r.hr == DISP_E_EXCEPTION) {
        const bool numbered = (static_cast<unsigned long>(r.scode) & 0xFFFF0000u) == 0x800A0000u;
        EXPECT_TRUE(numbered || r.scode == E_OUTOFMEMORY) << std::string(what.begin(), what.end()) << " scode 0x"
                                                           << std::hex << r.scode << std::dec;
        return;
    }
    EXPECT_TRUE(SUCCEEDED(r.hr) || r.hr == DISP_E_TYPEMISMATCH || r.hr == DISP_E_BADVARTYPE)
        << std::string(what.begin(), what.end()) << " hr 0x" << std::hex << r.hr << std::dec;
}

TEST(DispatchTest, EveryMemberTakesAnyVariantAHostCanPass)
{
    const VariantCatalogue catalogue;
    const wchar_t* properties[] = {L"MailServer", L"MailAddress", L"ReplyAddress", L"ReplyName", L"ErrorText", L"Message",
                                   L"Account", L"Password", L"TranslatedMessage", L"PictureFile", L"Campaign"};
    const wchar_t* methods[] = {L"MyOldEncrypt", L"MyDecrypt", L"MyEncrypt", L"MyOldDecrypt"};
    int index = 0;
    for (const VARIANT& value : catalogue.values()) {
        const std::wstring tag = L" value " + std::to_wstring(index++);
        // Fresh objects: one value's recipients must not weigh on the next.
        const ComPtr<IDispatch> renderer = createByProgId(L"QelMessage.Renderer");
        const ComPtr<IDispatch> cipher = createByProgId(L"QelCipher.Cipher");
        for (const wchar_t* p : {L"Message", L"Account", L"Password"})
            put(renderer.Get(), p, text(L"x").get());
        for (const wchar_t* p : properties) {
            expectDefined(put(renderer.Get(), p, value), p + tag);
            expectDefined(get(renderer.Get(), p), p + tag);
            expectDefined(call(renderer.Get(), L"Translate", DISPATCH_METHOD), L"Translate after " + std::wstring(p) + tag);
        }
        for (const wchar_t* m : methods)
            expectDefined(call(renderer.Get(), m, DISPATCH_METHOD, {value}), m + tag);
        expectDefined(call(renderer.Get(), L"AddRecipient", DISPATCH_METHOD, {value, value}), L"AddRecipient" + tag);
        expectDefined(put(cipher.Get(), L"CipherString", value), L"CipherString" + tag);
        expectDefined(call(cipher.Get(), L"EnhancedEncrypt", DISPATCH_METHOD), L"EnhancedEncrypt" + tag);
        expectDefined(call(cipher.Get(), L"EnhancedDecrypt", DISPATCH_METHOD), L"EnhancedDecrypt" + tag);
    }
}

TEST(DispatchTest, ObjectsReleaseToZeroAndTheLibraryCanUnloadOnlyThen)
{
    const auto canUnloadNow = [](const wchar_t* dll) {
        const HMODULE module = GetModuleHandleW(dll);
        const auto entry = module ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                                        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")))
                                  : nullptr;
        return entry ? entry() : E_FAIL;
    };
    {
        ComPtr<IDispatch> renderer = createByProgId(L"QelMessage.Renderer");
        ComPtr<IDispatch> cipher = createByProgId(L"QelCipher.Cipher");
        EXPECT_EQ(canUnloadNow(L"QelMessage.dll"), S_FALSE) << "a renderer lives";
        EXPECT_EQ(canUnloadNow(L"QelCipher.dll"), S_FALSE) << "a cipher lives";
        put(cipher.Get(), L"CipherString", VARIANT{});
        VARIANT object;
        object.vt = VT_DISPATCH;
        object.pdispVal = cipher.Get();
        call(renderer.Get(), L"AddRecipient", DISPATCH_METHOD, {object, object});
        call(renderer.Get(), L"MyOldEncrypt", DISPATCH_METHOD, {text(L"x").get()});
        // Set: every property holds the object itself until the renderer goes.
        for (const wchar_t* p : {L"MailServer", L"MailAddress", L"ReplyAddress", L"ReplyName", L"ErrorText", L"Message",
                                 L"Account", L"Password", L"TranslatedMessage", L"PictureFile", L"Campaign"}) {
            EXPECT_HRESULT_SUCCEEDED(call(renderer.Get(), p, DISPATCH_PROPERTYPUTREF, {object}).hr) << p;
            const DispatchResult held = get(renderer.Get(), p);
            EXPECT_TRUE(held.value.get().vt == VT_DISPATCH && held.value.get().pdispVal == cipher.Get()) << p;
        }
        EXPECT_EQ(renderer.Reset(), 0u);
        EXPECT_EQ(canUnloadNow(L"QelCipher.dll"), S_FALSE) << "the cipher still lives";
        EXPECT_EQ(cipher.Reset(), 0u) << "the recipient and property copies are released with the renderer";
    }
    // Not at once: activity settles first, for apartments still making objects.
    EXPECT_EQ(canUnloadNow(L"QelCipher.dll"), S_FALSE);
    Sleep(automation::ComModule::kUnloadDelayMs + 100);
    EXPECT_EQ(canUnloadNow(L"QelMessage.dll"), S_OK);
    EXPECT_EQ(canUnloadNow(L"QelCipher.dll"), S_OK);
    // The runtime may free them now; they stay, for apartments still entering them.
    CoFreeUnusedLibrariesEx(0, 0);
    EXPECT_NE(GetModuleHandleW(L"QelMessage.dll"), nullptr);
    EXPECT_NE(GetModuleHandleW(L"QelCipher.dll"), nullptr);
}

} // namespace
} // namespace qel::test
