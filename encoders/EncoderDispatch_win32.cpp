#include "encoders/EncoderDispatch.h"

#include "com/VariantBytes.h"

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

    const com::VariantBytes bytes(&params.rgvarg[dataAt]);
    if (bytes.type() == (VT_BYREF | VT_UI1)) return S_FALSE;
    if (bytes.status() == DISP_E_TYPEMISMATCH) {
        if (argErr) *argErr = static_cast<UINT>(dataAt);
        return DISP_E_TYPEMISMATCH;
    }
    if (FAILED(bytes.status())) return bytes.status();
    if (bytes.status() == S_OK) {
        const HRESULT hr = OnAudioData(bytes.data(), std::min(V_I4(&length), bytes.size()));
        if (result) VariantInit(result);
        return hr;
    }
    if (V_I4(&length) <= 0) return S_FALSE;
    if (argErr) *argErr = static_cast<UINT>(dataAt);
    return DISP_E_TYPEMISMATCH;
}

}  // namespace kv::encoders
