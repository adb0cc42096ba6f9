#include "encoders/EncoderDispatch.h"

namespace kv::encoders {

// The host has no type-library loader: every late-bound call ends before it
// could reach OnAudioData, so there is no argument to look at.
HRESULT EncoderDispatch::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return com::guarded([&] {
        const HRESULT control =
            invokeControl(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
        if (control != S_FALSE) return control;
        return DispatchImpl::Invoke(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    });
}

}  // namespace kv::encoders
