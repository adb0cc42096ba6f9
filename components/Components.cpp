#include "components/Components.h"

#include <mutex>

#include "com/ClassFactory.h"
#include "components/AudioRecorder.h"
#include "components/ObjectRegistry.h"

namespace kv::components {

namespace {

// The registry's class object: each creation gets the caller's apartment's
// registry.
class RegistryClass : public kv::com::implements<RegistryClass, IClassFactory, kv::com::interlocked_count> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return createSharedRegistry(outer, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

std::mutex g_lock;
int g_registrations = 0;
DWORD g_registryCookie = 0;
DWORD g_recorderCookie = 0;
// The registering apartment's registry, kept for the registration so that
// what one party enters there the others find even when nobody holds it in
// between. It is that apartment's object: only a thread of it releases it.
Apartment g_home{};
kv::com::ComPtr<IUnknown> g_kept;

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
    auto registry = kv::com::make<RegistryClass>();
    auto recorder = kv::com::make<kv::com::ClassFactory<CKvAudioRecorder>>();
    HRESULT hr = registerClass(CLSID_KvObjectRegistry, registry.get(), g_registryCookie);
    if (FAILED(hr)) return hr;
    hr = registerClass(CLSID_KvAudioRecorder, recorder.get(), g_recorderCookie);
    if (FAILED(hr)) {
        CoRevokeClassObject(g_registryCookie);
        return hr;
    }
    g_registrations = 1;
    g_home = currentApartment();
    // Without memory for it, the registry is made on demand, as elsewhere.
    createSharedRegistry(nullptr, IID_IUnknown, g_kept.put_void());
    return S_OK;
}

void RevokeComponents() {
    kv::com::ComPtr<IUnknown> kept;  // released after the lock: its entries may go with it
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_registrations == 0 || --g_registrations > 0) return;
    CoRevokeClassObject(g_recorderCookie);
    CoRevokeClassObject(g_registryCookie);
    // Revoked from another apartment, it is abandoned rather than released
    // on a thread not its own.
    if (currentApartment() == g_home)
        kept = std::move(g_kept);
    else
        static_cast<void>(g_kept.detach());
}

}  // namespace kv::components
