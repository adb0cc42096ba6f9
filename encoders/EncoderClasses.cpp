#include "encoders/EncoderClasses.h"

#include "com/ClassFactory.h"
#include "encoders/KV_AudioG711.h"
#include "encoders/KV_AudioG7231.h"
#include "encoders/KV_AudioQuorvan.h"

#include <vector>

namespace kvencoders {

namespace {

std::vector<DWORD> g_cookies;

template <class T>
HRESULT registerClass(REFCLSID clsid) {
    auto factory = kv::com::make<kv::com::ClassFactory<T>>();
    if (!factory) return E_OUTOFMEMORY;
    DWORD cookie = 0;
    const HRESULT hr = CoRegisterClassObject(clsid, static_cast<IClassFactory*>(factory.get()),
                                             CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(hr)) g_cookies.push_back(cookie);
    return hr;
}

}  // namespace

HRESULT RegisterEncoderClasses() {
    HRESULT hr = registerClass<kv::CKV_AudioG711A>(CLSID_KV_AudioG711A);
    if (SUCCEEDED(hr)) hr = registerClass<kv::CKV_AudioG711U>(CLSID_KV_AudioG711U);
    if (SUCCEEDED(hr)) hr = registerClass<kv::CKV_AudioG7231>(CLSID_KV_AudioG7231);
    if (SUCCEEDED(hr)) hr = registerClass<kv::CKV_AudioQuorvan>(CLSID_KV_AudioQuorvan);
    return hr;
}

void RevokeEncoderClasses() {
    for (DWORD cookie : g_cookies) CoRevokeClassObject(cookie);
    g_cookies.clear();
}

}  // namespace kvencoders
