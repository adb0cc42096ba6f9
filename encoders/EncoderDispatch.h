#pragma once

// IDispatch of IKvAudioEncoder. Late-bound OnAudioData gets its own door:
// through the type information a caller's number would arrive as a pointer
// to a one-byte temporary, and the encoder would read `length` bytes from it.
// A byte array is taken up to its size; a reference to a byte still means
// what a vtable call means (the caller vouches for `length` bytes); any other
// data argument with a positive length is a type mismatch and nothing is read.
//
// A script has no way to ask for another interface: the members of
// IKvAudioEncoderControl (Flush, Reset) are found and called through this
// IDispatch too, by their names and DISPIDs, which IKvAudioEncoder's do not share.

#include "com/Dispatch.h"
#include "interfaces/Interfaces.h"

namespace kv::encoders {

class EncoderDispatch : public com::DispatchImpl<IKvAudioEncoder, LIBID_KvLib, 1, 0> {
public:
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

private:
    // The control's IDispatch for its own DISPIDs (S_FALSE for any other).
    HRESULT invokeControl(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                          VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

    // S_FALSE when the call is not one this door decides: it then goes
    // through the type information as any other call.
    HRESULT invokeOnAudioData(const DISPPARAMS& params, VARIANT* result, UINT* argErr);
};

}  // namespace kv::encoders
