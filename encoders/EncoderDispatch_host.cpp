#include "encoders/EncoderDispatch.h"

namespace kv::encoders {

// The host has no type-library loader: every late-bound call ends before it
// could reach OnAudioData, so there is no argument to look at.
HRESULT EncoderDispatch::Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return DispatchImpl::Invoke(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
}

}  // namespace kv::encoders
