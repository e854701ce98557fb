// Creates a class by ProgID through HKCU\Software\Classes alone, the way
// Windows' merged HKEY_CLASSES_ROOT would for a per-user registration: Wine 8
// reads classes only from HKLM, so CreateObject cannot show it there.
//   per_user_creation PROGID   prints "created" or "refused <reason>"
#include <windows.h>
#include <objbase.h>

#include <wrl/client.h>

#include <cstdio>
#include <string>

namespace {

std::wstring userClassesValue(const std::wstring& key)
{
    wchar_t text[MAX_PATH * 2] = {};
    DWORD size = sizeof text;
    const LONG status = RegGetValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), nullptr, RRF_RT_REG_SZ,
                                     nullptr, text, &size);
    return status == ERROR_SUCCESS ? std::wstring(text) : std::wstring();
}

class Library {
public:
    explicit Library(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {}
    ~Library() { if (module_) FreeLibrary(module_); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    void* entry(const char* name) const
    {
        return module_ ? reinterpret_cast<void*>(GetProcAddress(module_, name)) : nullptr;
    }

private:
    HMODULE module_;
};

int refuse(const char* why)
{
    std::printf("refused %s\n", why);
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return refuse("(usage: per_user_creation PROGID)");
    const std::wstring classId = userClassesValue(std::wstring(argv[1]) + L"\\CLSID");
    CLSID clsid{};
    if (classId.empty() || FAILED(CLSIDFromString(classId.c_str(), &clsid)))
        return refuse("no CLSID under the ProgID");
    const std::wstring path = userClassesValue(L"CLSID\\" + classId + L"\\InprocServer32");
    if (path.empty())
        return refuse("no InprocServer32");
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return refuse("CoInitializeEx");
    int result = 0;
    {
        Library library(path);
        using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        const auto getClassObject = reinterpret_cast<GetClassObject>(library.entry("DllGetClassObject"));
        Microsoft::WRL::ComPtr<IClassFactory> factory;
        Microsoft::WRL::ComPtr<IDispatch> object;
        if (!getClassObject)
            result = refuse("DLL not loaded");
        else if (FAILED(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()))))
            result = refuse("no class factory for that CLSID");
        else if (FAILED(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(object.GetAddressOf()))))
            result = refuse("CreateInstance");
        else
            std::printf("created\n");
    }
    CoUninitialize();
    return result;
}
