#pragma once
// The four entry points of an in-process server with one creatable class,
// and DllInstall for per-user registration (regsvr32 /n /i:user). Use
// QEL_AUTOMATION_SERVER_EXPORTS once per DLL, with the registration that
// cmake/com_registration.py generates for it.
#include <windows.h>

#include <new>

#include "automation/ClassFactory.h"
#include "automation/ComModule.h"
#include "automation/Registration.h"

namespace qel::automation {

template <class T>
HRESULT getClassObject(const CLSID& served, REFCLSID requested, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(requested, served))
        return CLASS_E_CLASSNOTAVAILABLE;
    ComModule::instance().pin();
    auto* factory = new (std::nothrow) ClassFactory<T>();
    if (!factory)
        return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
}

} // namespace qel::automation

#define QEL_AUTOMATION_SERVER_EXPORTS(ClassType, classId, registration)                                      \
    STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)                                         \
    {                                                                                                          \
        return qel::automation::getClassObject<ClassType>(classId, clsid, riid, out);                          \
    }                                                                                                          \
    STDAPI DllCanUnloadNow()                                                                                   \
    {                                                                                                          \
        return qel::automation::ComModule::instance().canUnload() ? S_OK : S_FALSE;                            \
    }                                                                                                          \
    STDAPI DllRegisterServer()                                                                                 \
    {                                                                                                          \
        return qel::automation::registerServer(registration, qel::automation::RegistrationScope::machine);     \
    }                                                                                                          \
    STDAPI DllUnregisterServer()                                                                               \
    {                                                                                                          \
        return qel::automation::unregisterServer(registration, qel::automation::RegistrationScope::machine);   \
    }                                                                                                          \
    STDAPI DllInstall(BOOL install, PCWSTR commandLine)                                                        \
    {                                                                                                          \
        return qel::automation::installServer(registration, install != FALSE, commandLine);                    \
    }
