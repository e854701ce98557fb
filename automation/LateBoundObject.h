#pragma once
// An automation object created by ProgID and driven by member names through
// IDispatch, as a script host drives it. Errors the object raises come back
// as the caller's own: same status, source and description.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <vector>

#include "automation/Variant.h"

namespace qel::automation {

class LateBoundObject {
public:
    // Error 429 when no class is registered under `programId` or it cannot
    // be created.
    explicit LateBoundObject(const wchar_t* programId);

    void put(const wchar_t* property, const VARIANT& value);
    // Arguments in the host's order.
    Variant call(const wchar_t* method, std::vector<VARIANT> arguments = {});

private:
    DISPID idOf(const wchar_t* member);
    Variant invoke(DISPID id, WORD kind, std::vector<VARIANT>& reversedArguments);

    Microsoft::WRL::ComPtr<IDispatch> object_;
};

} // namespace qel::automation
