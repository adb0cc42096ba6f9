#include "encoders/EncoderDispatch.h"

#include <algorithm>

namespace kv::encoders {

namespace {

// OnAudioData(data, length): parameter 0 and 1.
constexpr UINT kDataParam = 0;
constexpr UINT kLengthParam = 1;

// Where a parameter stands in rgvarg: named arguments first, then the
// positional ones, last first. -1 when the caller did not pass it.
int argumentIndex(const DISPPARAMS& params, UINT param) {
    for (UINT i = 0; i < params.cNamedArgs; ++i) {
        if (params.rgdispidNamedArgs[i] == static_cast<DISPID>(param)) return static_cast<int>(i);
    }
    const UINT positional = params.cArgs - params.cNamedArgs;
    if (param < positional) return static_cast<int>(params.cArgs - 1 - param);
    return -1;
}

bool isOnAudioData(ITypeInfo* info, DISPID id) {
    static const OLECHAR kName[] = KV_W("OnAudioData");
    LPOLESTR names[] = {const_cast<LPOLESTR>(kName)};
    DISPID known = DISPID_UNKNOWN;
    return SUCCEEDED(info->GetIDsOfNames(names, 1, &known)) && known == id;
}

}  // namespace

HRESULT EncoderDispatch::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return com::guarded([&] {
        const HRESULT control =
            invokeControl(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
        if (control != S_FALSE) return control;
        ITypeInfo* info = nullptr;
        const HRESULT hr = typeInfo(lcid, &info);
        if (FAILED(hr)) return hr;
        if (pDispParams && (wFlags & DISPATCH_METHOD) && isOnAudioData(info, dispIdMember)) {
            const HRESULT decided = invokeOnAudioData(*pDispParams, pVarResult, puArgErr);
            if (decided != S_FALSE) return decided;
        }
        return DispatchImpl::Invoke(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    });
}

HRESULT EncoderDispatch::invokeOnAudioData(const DISPPARAMS& params, VARIANT* result, UINT* argErr) {
    const int dataAt = argumentIndex(params, kDataParam);
    const int lengthAt = argumentIndex(params, kLengthParam);
    if (params.cArgs != 2 || dataAt < 0 || lengthAt < 0 || !params.rgvarg) return S_FALSE;

    VARIANT length;
    VariantInit(&length);
    if (FAILED(VariantChangeType(&length, &params.rgvarg[lengthAt], 0, VT_I4))) return S_FALSE;

    // Script engines pass their variables as references to a VARIANT.
    const VARIANT* data = &params.rgvarg[dataAt];
    while (V_VT(data) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(data)) data = V_VARIANTREF(data);

    const VARTYPE type = V_VT(data);
    if (type == (VT_BYREF | VT_UI1)) return S_FALSE;
    if (type == (VT_ARRAY | VT_UI1) || type == (VT_BYREF | VT_ARRAY | VT_UI1)) {
        SAFEARRAY* array = (type & VT_BYREF) ? (V_ARRAYREF(data) ? *V_ARRAYREF(data) : nullptr) : V_ARRAY(data);
        LONG lower = 0, upper = -1;
        if (array && (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
                      FAILED(SafeArrayGetUBound(array, 1, &upper)))) {
            if (argErr) *argErr = static_cast<UINT>(dataAt);
            return DISP_E_TYPEMISMATCH;
        }
        const LONG size = array ? upper - lower + 1 : 0;
        void* bytes = nullptr;
        if (size > 0 && FAILED(SafeArrayAccessData(array, &bytes))) return E_UNEXPECTED;
        const HRESULT hr = OnAudioData(static_cast<BYTE*>(bytes), std::min(V_I4(&length), size));
        if (bytes) SafeArrayUnaccessData(array);
        if (result) VariantInit(result);
        return hr;
    }
    if (V_I4(&length) <= 0) return S_FALSE;
    if (argErr) *argErr = static_cast<UINT>(dataAt);
    return DISP_E_TYPEMISMATCH;
}

}  // namespace kv::encoders
