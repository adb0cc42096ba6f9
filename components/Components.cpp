#include "components/Components.h"

#include <mutex>

#include "com/ClassFactory.h"
#include "components/AudioRecorder.h"
#include "components/ObjectRegistry.h"

namespace kv::components {

namespace {

// The registry's class object: it hands out one instance, created on first
// demand, so every party in the process meets the same map.
class SharedRegistryFactory
    : public kv::com::implements<SharedRegistryFactory, IClassFactory, kv::com::interlocked_count> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        // One shared object cannot belong to an aggregate.
        if (outer) return CLASS_E_NOAGGREGATION;
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_instance) m_instance = kv::com::make<CKvObjectRegistry>();
        if (!m_instance) return E_OUTOFMEMORY;
        return m_instance->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    std::mutex m_lock;
    kv::com::ComPtr<CKvObjectRegistry> m_instance;
};

std::mutex g_lock;
int g_registrations = 0;
DWORD g_registryCookie = 0;
DWORD g_recorderCookie = 0;

HRESULT registerClass(REFCLSID clsid, IClassFactory* factory, DWORD& cookie) {
    if (!factory) return E_OUTOFMEMORY;
    return CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
}

}  // namespace

HRESULT RegisterComponents() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_registrations > 0) {
        ++g_registrations;
        return S_FALSE;
    }
    // The runtime takes references of its own; ours go at the end of the scope.
    auto registry = kv::com::make<SharedRegistryFactory>();
    auto recorder = kv::com::make<kv::com::ClassFactory<CKvAudioRecorder>>();
    HRESULT hr = registerClass(CLSID_KvObjectRegistry, registry.get(), g_registryCookie);
    if (FAILED(hr)) return hr;
    hr = registerClass(CLSID_KvAudioRecorder, recorder.get(), g_recorderCookie);
    if (FAILED(hr)) {
        CoRevokeClassObject(g_registryCookie);
        return hr;
    }
    g_registrations = 1;
    return S_OK;
}

void RevokeComponents() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_registrations == 0 || --g_registrations > 0) return;
    CoRevokeClassObject(g_recorderCookie);
    CoRevokeClassObject(g_registryCookie);
}

}  // namespace kv::components
