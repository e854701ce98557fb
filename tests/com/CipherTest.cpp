// Cipher, and its compatibility with Renderer's legacy methods.
#include "QelCipher.h"
#include "QelMessage.h"
#include "com/ComTestSupport.h"
#include "textcrypt/LegacyKnownAnswers.h"

namespace qel::test {
namespace {

class CipherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_Cipher, nullptr, CLSCTX_INPROC_SERVER, IID__Cipher,
                                                  reinterpret_cast<void**>(cipher.GetAddressOf())));
        ASSERT_HRESULT_SUCCEEDED(CoCreateInstance(CLSID_Renderer, nullptr, CLSCTX_INPROC_SERVER, IID__Renderer,
                                                  reinterpret_cast<void**>(renderer.GetAddressOf())));
    }
    void setText(const std::wstring& value)
    {
        const Variant v = Variant::ofText(std::u16string(value.begin(), value.end()));
        ASSERT_HRESULT_SUCCEEDED(cipher->put_CipherString(v.get()));
    }
    Variant value()
    {
        Variant v;
        EXPECT_HRESULT_SUCCEEDED(cipher->get_CipherString(v.receive()));
        return v;
    }
    std::wstring text() { return textOf(value().get()); }
    std::wstring renderer_(HRESULT (STDMETHODCALLTYPE _Renderer::*method)(VARIANT*, VARIANT*), const std::wstring& in)
    {
        Variant argument = Variant::ofText(std::u16string(in.begin(), in.end()));
        Variant result;
        EXPECT_HRESULT_SUCCEEDED((renderer.Get()->*method)(const_cast<VARIANT*>(&argument.get()), result.receive()));
        return textOf(result.get());
    }

    ComPtr<_Cipher> cipher;
    ComPtr<_Renderer> renderer;
};

TEST_F(CipherTest, EncryptsAndDecryptsInPlace)
{
    const std::wstring original = L"Caf\u00E9 \U0001F600 \u4E2D";
    setText(original);
    ASSERT_HRESULT_SUCCEEDED(cipher->EnhancedEncrypt());
    const std::wstring once = text();
    EXPECT_EQ(once.size(), 64u);
    ASSERT_HRESULT_SUCCEEDED(cipher->EnhancedEncrypt());
    EXPECT_EQ(text().size(), 320u) << "the second call encrypts the 64 digits (128 bytes) of the first";
    ASSERT_HRESULT_SUCCEEDED(cipher->EnhancedDecrypt());
    EXPECT_EQ(text(), once);
    ASSERT_HRESULT_SUCCEEDED(cipher->EnhancedDecrypt());
    EXPECT_EQ(text(), original);
}

TEST_F(CipherTest, FailuresLeaveTheStringAsItWas)
{
    EXPECT_EQ(cipher->EnhancedDecrypt(), static_cast<HRESULT>(0x800A0009));
    EXPECT_EQ(takeErrorInfo().source, L"QelCipher");
    EXPECT_EQ(cipher->EnhancedEncrypt(), static_cast<HRESULT>(0x800A000D)) << "Empty is no text";
    EXPECT_EQ(value().get().vt, VT_EMPTY);

    setText(L"");
    EXPECT_EQ(cipher->EnhancedEncrypt(), static_cast<HRESULT>(0x800A0009));
    EXPECT_EQ(cipher->EnhancedDecrypt(), static_cast<HRESULT>(0x800A0009));
    EXPECT_EQ(value().get().vt, VT_BSTR);
    EXPECT_EQ(text(), L"");

    setText(L"ABC");
    EXPECT_EQ(cipher->EnhancedDecrypt(), static_cast<HRESULT>(0x800A0009));
    EXPECT_EQ(text(), L"ABC");
}

TEST_F(CipherTest, BothLibrariesWriteAndReadTheFormLibmcryptMade)
{
    for (const LegacyKnownAnswer& known : kLegacyKnownAnswers) {
        const std::wstring original(known.text.begin(), known.text.end());
        const std::wstring hex(known.hex.begin(), known.hex.end());
        EXPECT_EQ(renderer_(&_Renderer::MyOldEncrypt, original), hex);
        EXPECT_EQ(renderer_(&_Renderer::MyOldDecrypt, hex), original);
        setText(original);
        ASSERT_HRESULT_SUCCEEDED(cipher->EnhancedEncrypt());
        EXPECT_EQ(text(), hex);
        ASSERT_HRESULT_SUCCEEDED(cipher->EnhancedDecrypt());
        EXPECT_EQ(text(), original);
    }

    // The current transform's output is foreign to the legacy one.
    setText(renderer_(&_Renderer::MyEncrypt, std::wstring(32, L'a')));
    if (SUCCEEDED(cipher->EnhancedDecrypt())) {
        EXPECT_NE(text(), std::wstring(32, L'a'));
    }
}

TEST_F(CipherTest, SetStoresTheReferenceAndReleasesIt)
{
    VARIANT object;
    object.vt = VT_DISPATCH;
    object.pdispVal = renderer.Get();
    ASSERT_HRESULT_SUCCEEDED(cipher->putref_CipherString(object));
    const Variant back = value();
    EXPECT_EQ(back.get().vt, VT_DISPATCH);
    EXPECT_EQ(back.get().pdispVal, static_cast<IDispatch*>(renderer.Get()));
    EXPECT_EQ(cipher->EnhancedEncrypt(), static_cast<HRESULT>(0x800A000D));
}

} // namespace
} // namespace qel::test
