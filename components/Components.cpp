#include "components/Components.h"

#include <mutex>

#include "com/ClassFactory.h"
#include "components/AudioRecorder.h"
#include "components/ObjectRegistry.h"

namespace kv::components {

namespace {

// The registry's class object: it keeps the process's one registry alive
// from its first creation until the class object goes, so that what one
// party enters the others find even when nobody holds it in between.
class SharedRegistryFactory
    : public kv::com::implements<SharedRegistryFactory, IClassFactory, kv::com::interlocked_count> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        const HRESULT hr = createSharedRegistry(outer, riid, ppv);
        if (FAILED(hr)) return hr;
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_instance) createSharedRegistry(nullptr, IID_IUnknown, m_instance.put_void());
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    std::mutex m_lock;
    kv::com::ComPtr<IUnknown> m_instance;
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
