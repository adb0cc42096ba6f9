#pragma once

// IDispatch for a dual interface, answered from the interface's registered
// type library (by LIBID, version and the caller's locale; never from a
// module file). The type information is loaded on first use and kept.

#include "com/Barrier.h"
#include "com/ComPtr.h"
#include "com/Module.h"

#include <string>
#include <utility>
#include <vector>

KV_INTERFACE_ID(IDispatch, IID_IDispatch);

namespace kv::com {

// Libid must name a GUID object with static storage.
template <class I, const GUID& Libid, WORD Major, WORD Minor>
class DispatchImpl : public I {
public:
    using Interface = I;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        if (iTInfo != 0) return DISP_E_BADINDEX;
        return guarded([&] {
            ITypeInfo* info = nullptr;
            const HRESULT hr = typeInfo(lcid, &info);
            if (FAILED(hr)) return hr;
            info->AddRef();  // the caller's reference
            *ppTInfo = info;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) override {
        return guarded([&] {
            // Late-bound callers look the same few names up before every call.
            const bool single = cNames == 1 && rgszNames && rgszNames[0] && rgDispId;
            if (single && cachedId(rgszNames[0], rgDispId)) return S_OK;
            ITypeInfo* info = nullptr;
            HRESULT hr = typeInfo(lcid, &info);
            if (FAILED(hr)) return hr;
            hr = info->GetIDsOfNames(rgszNames, cNames, rgDispId);
            if (single && SUCCEEDED(hr)) remember(rgszNames[0], rgDispId[0]);
            return hr;
        });
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        return guarded([&] {
            ITypeInfo* info = nullptr;
            const HRESULT hr = typeInfo(lcid, &info);
            if (FAILED(hr)) return hr;
            return info->Invoke(static_cast<I*>(this), dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo,
                                puArgErr);
        });
    }

private:
    using Name = std::basic_string<OLECHAR>;
    struct NameCache {
        std::vector<std::pair<Name, DISPID>> entries;  // names as callers spelled them
    };
    static NameCache& names() {
        static NameCache cache;
        return cache;
    }

    // Compared by length first, then character for character.
    static bool cachedId(const OLECHAR* name, DISPID* id) {
        const Name wanted(name);
        ModuleSection guard;
        for (const auto& [known, knownId] : names().entries) {
            if (known.size() == wanted.size() && known == wanted) {
                *id = knownId;
                return true;
            }
        }
        return false;
    }
    // Only names the type information answered enter, so the cache stays as
    // small as the interface.
    static void remember(const OLECHAR* name, DISPID id) {
        ModuleSection guard;
        names().entries.emplace_back(Name(name), id);
    }

protected:
    // One holder per interface for the whole process, loaded under the
    // module's lock and released when the module ends. A failed load is tried
    // again on the next call, since the library may be registered meanwhile.
    // The pointer handed out is borrowed from the holder.
    static HRESULT typeInfo(LCID lcid, ITypeInfo** out) {
        static ITypeInfo* cached = nullptr;
        ModuleSection guard;
        if (!cached) {
            ComPtr<ITypeLib> library;
            HRESULT hr = LoadRegTypeLib(Libid, Major, Minor, lcid, library.put());
            if (FAILED(hr)) return hr;
            ComPtr<ITypeInfo> info;
            hr = library->GetTypeInfoOfGuid(iidOf<I>(), info.put());
            if (FAILED(hr)) return hr;
            module().addCleanup(
                [](void*) {
                    cached->Release();
                    cached = nullptr;
                },
                nullptr);
            cached = info.detach();
        }
        *out = cached;
        return S_OK;
    }
};

}  // namespace kv::com
