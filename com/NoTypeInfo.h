#pragma once

// IDispatch for components that ship no type library: callers
// reach them through their vtables only, so they answer that there is no type
// information and refuse late binding.
//
//   class CThing : public kv::com::implements<CThing, NoTypeInfo<IThing>,
//                                             kv::com::alias<IDispatch, IThing>> { ... };

#include "platform/win32.h"

namespace kv::com {

template <class I>
class NoTypeInfo : public I {
public:
    using Interface = I;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
        if (ppTInfo) *ppTInfo = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

}  // namespace kv::com
