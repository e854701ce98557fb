#include "automation/ReferenceArguments.h"

#include <wrl/client.h>

namespace qel::automation {

namespace {

bool isVariantReference(const ELEMDESC& parameter)
{
    return parameter.tdesc.vt == VT_PTR && parameter.tdesc.lptdesc && parameter.tdesc.lptdesc->vt == VT_VARIANT
        && !(parameter.paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
}

} // namespace

ReferenceArguments::ReferenceArguments(ITypeInfo* info, DISPID member, WORD flags, DISPPARAMS* params) : host_(params)
{
    // Only methods take VARIANT* parameters; named arguments are left to Invoke.
    if (!params || !params->rgvarg || params->cArgs == 0 || params->cNamedArgs != 0 || !(flags & DISPATCH_METHOD))
        return;
    // A dual interface's parameters are described by its vtable half.
    Microsoft::WRL::ComPtr<ITypeInfo> described(info);
    HREFTYPE vtableHalf = 0;
    if (SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableHalf)))
        info->GetRefTypeInfo(vtableHalf, described.ReleaseAndGetAddressOf());
    Microsoft::WRL::ComPtr<ITypeInfo2> info2;
    UINT index = 0;
    FUNCDESC* function = nullptr;
    if (!described || FAILED(described.As(&info2)) || FAILED(info2->GetFuncIndexOfMemId(member, INVOKE_FUNC, &index))
        || FAILED(described->GetFuncDesc(index, &function)))
        return;
    try {
        const UINT count = params->cArgs;
        for (UINT i = 0; i < count && i < static_cast<UINT>(function->cParams); ++i) {
            VARIANT& argument = params->rgvarg[count - 1 - i]; // the host's order, reversed
            if (!isVariantReference(function->lprgelemdescParam[i]) || (argument.vt & VT_BYREF)
                || argument.vt == VT_ERROR)
                continue;
            if (copies_.empty()) {
                arguments_.assign(params->rgvarg, params->rgvarg + count);
                copies_.reserve(count); // the references below point into it
            }
            copies_.push_back(Variant::copyOf(argument));
            VARIANT& reference = arguments_[count - 1 - i];
            reference.vt = VT_BYREF | VT_VARIANT;
            reference.pvarVal = const_cast<VARIANT*>(&copies_.back().get());
        }
    } catch (...) { // no copy: Invoke gets the host's arguments as they are
        copies_.clear();
    }
    described->ReleaseFuncDesc(function);
    params_ = {arguments_.data(), nullptr, static_cast<UINT>(arguments_.size()), 0};
}

} // namespace qel::automation
