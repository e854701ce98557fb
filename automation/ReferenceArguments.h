#pragma once
// A host's arguments as ITypeInfo::Invoke is given them: an argument passed
// by value for a VARIANT* parameter becomes a reference to a copy owned here.
// Invoke would make that reference itself, and Wine's, with many apartments
// calling at once, can leave the string it copies with two owners (the 32-bit
// soak read a Renderer's Message back as the text the host allocated next);
// handed a reference, it passes the pointer through untouched.
#include <windows.h>
#include <oaidl.h>

#include <vector>

#include "automation/Variant.h"

namespace qel::automation {

class ReferenceArguments {
public:
    ReferenceArguments(ITypeInfo* info, DISPID member, WORD flags, DISPPARAMS* params);
    ReferenceArguments(const ReferenceArguments&) = delete;
    ReferenceArguments& operator=(const ReferenceArguments&) = delete;

    // The host's own parameters when nothing needed a reference.
    DISPPARAMS* get() { return copies_.empty() ? host_ : &params_; }

private:
    DISPPARAMS* host_;
    DISPPARAMS params_{};
    std::vector<VARIANT> arguments_;
    std::vector<Variant> copies_;
};

} // namespace qel::automation
