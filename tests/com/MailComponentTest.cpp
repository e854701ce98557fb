// The mail component's own members, from its DLL (QEL_SMTP_DLL): it is not
// registered while these tests run.
#include <cstdlib>

#include "QelSmtp.h"
#include "com/ComTestSupport.h"

namespace qel::test {
namespace {

TEST(MailComponentTest, PasswordTakesHostileReferencesWithAnAnswer)
{
    const char* path = std::getenv("QEL_SMTP_DLL");
    ASSERT_TRUE(path) << "QEL_SMTP_DLL names the mail component's DLL";
    const HMODULE dll = LoadLibraryA(path);
    ASSERT_TRUE(dll) << path;
    const auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(getClassObject(CLSID_SmtpMail, IID_PPV_ARGS(&factory)));
    ComPtr<IDispatch> mail;
    ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&mail)));

    VARIANT cycle; // a reference to itself: followed forever, it would hang the host
    cycle.vt = VT_BYREF | VT_VARIANT;
    cycle.pvarVal = &cycle;
    EXPECT_EQ(put(mail.Get(), L"Password", cycle).scode, static_cast<SCODE>(0x800A000D));
    VARIANT noString; // a string held by reference, without the string
    noString.vt = VT_BYREF | VT_BSTR;
    noString.pbstrVal = nullptr;
    EXPECT_HRESULT_SUCCEEDED(put(mail.Get(), L"Password", noString).hr);
}

} // namespace
} // namespace qel::test
