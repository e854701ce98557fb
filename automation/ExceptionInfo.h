#pragma once
// The EXCEPINFO an IDispatch::Invoke fills in, owned: its strings are freed
// once, when the owner goes or takes another.
#include <windows.h>
#include <oaidl.h>

namespace qel::automation {

class ExceptionInfo {
public:
    ExceptionInfo() = default;
    ~ExceptionInfo();
    ExceptionInfo(const ExceptionInfo&) = delete;
    ExceptionInfo& operator=(const ExceptionInfo&) = delete;

    // For Invoke's out-parameter.
    EXCEPINFO* receive();
    // The exception as raised, completed first where the object deferred
    // filling it in.
    const EXCEPINFO& get();
    // scode, else wCode as an interface error, else E_FAIL.
    HRESULT status();

private:
    void clear();

    EXCEPINFO info_{};
};

} // namespace qel::automation
