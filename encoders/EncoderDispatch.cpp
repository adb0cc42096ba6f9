#include "encoders/EncoderDispatch.h"

namespace kv::encoders {

namespace {

// As KvInterfaces.idl gives them to IKvAudioEncoderControl's members.
constexpr DISPID kFlushId = 0x100;
constexpr DISPID kResetId = 0x101;

com::ComPtr<IKvAudioEncoderControl> control(IKvAudioEncoder* encoder) {
    com::ComPtr<IKvAudioEncoderControl> c;
    encoder->QueryInterface(IID_IKvAudioEncoderControl, c.put_void());
    return c;
}

}  // namespace

HRESULT EncoderDispatch::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) {
    return com::guarded([&] {
        const HRESULT hr = DispatchImpl::GetIDsOfNames(riid, rgszNames, cNames, lcid, rgDispId);
        if (hr != DISP_E_UNKNOWNNAME) return hr;
        const auto c = control(this);
        return c && SUCCEEDED(c->GetIDsOfNames(riid, rgszNames, cNames, lcid, rgDispId)) ? S_OK : hr;
    });
}

HRESULT EncoderDispatch::invokeControl(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                       DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                       UINT* puArgErr) {
    if (dispIdMember != kFlushId && dispIdMember != kResetId) return S_FALSE;
    const auto c = control(this);
    if (!c) return DISP_E_MEMBERNOTFOUND;
    return c->Invoke(dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
}

}  // namespace kv::encoders
