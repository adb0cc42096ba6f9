#include "tests/threads/world.h"

#include <algorithm>

namespace threads {

HRESULT STDMETHODCALLTYPE Sink::GetBytesReceived(LONG* count) {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(received);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Sink::OnEncodedData(BYTE* data, LONG length) {
    ++calls;
    if (length < 0 || (length > 0 && !data)) {
        ++malformed;
        return E_INVALIDARG;
    }
    received += length;
    if (keep) bytes.insert(bytes.end(), data, data + length);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Recorder::AddDataTarget(IUnknown* target) {
    if (!target) return E_POINTER;
    if (std::find(targets.begin(), targets.end(), target) != targets.end()) return S_FALSE;
    targets.push_back(target);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Recorder::RemoveDataTarget(IUnknown* target) {
    const auto at = std::find(targets.begin(), targets.end(), target);
    if (at == targets.end()) return S_FALSE;
    targets.erase(at);
    return S_OK;
}

bool Recorder::capture(const std::vector<std::uint8_t>& pcm, std::size_t chunk) {
    for (std::size_t at = 0; at < pcm.size(); at += chunk) {
        const std::size_t n = std::min(chunk, pcm.size() - at);
        for (IUnknown* target : std::vector<IUnknown*>(targets)) {
            Ref<env::IKvAudioEncoder> encoder;
            if (target->QueryInterface(env::IID_KvAudioEncoder, encoder.put()) != S_OK) return false;
            if (encoder->OnAudioData(const_cast<BYTE*>(pcm.data() + at), static_cast<LONG>(n)) != S_OK) return false;
        }
    }
    return true;
}

namespace {

thread_local Apartment* t_current = nullptr;

// Each encoder creates its own registry; they all answer for the apartment
// they are called in.
class Registry final : public Unknown<env::IKvObjectRegistry> {
public:
    Registry() : Unknown(env::IID_KvObjectRegistry) {}

    HRESULT STDMETHODCALLTYPE AddObject(LPCOLESTR, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveObject(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LookupObject(LPCOLESTR, IUnknown** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        Apartment* apartment = Apartment::current();
        if (!apartment) return S_FALSE;
        // Borrowed, as the contract has it: the apartment keeps the reference.
        *object = static_cast<env::IKvAudioRecorder*>(&apartment->recorder());
        return S_OK;
    }
};

// Stateless, so one object serves every apartment.
class RegistryClass final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, env::IID_Unknown) || IsEqualGUID(riid, env::IID_ClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return make<Registry>()->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

RegistryClass g_registryClass;

}  // namespace

Apartment::Apartment() : m_recorder(make<Recorder>()), m_outer(t_current) {
    m_status = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_initialised = SUCCEEDED(m_status);
    // Class objects are registered per apartment under the real runtime.
    if (m_initialised) {
        const HRESULT hr = CoRegisterClassObject(env::CLSID_ObjectRegistry, &g_registryClass, CLSCTX_INPROC_SERVER,
                                                 REGCLS_MULTIPLEUSE, &m_cookie);
        if (FAILED(hr)) m_status = hr;
    }
    t_current = this;
}

Apartment::~Apartment() {
    t_current = m_outer;
    if (m_cookie) CoRevokeClassObject(m_cookie);
    m_recorder.reset();
    if (m_initialised) CoUninitialize();
}

Apartment* Apartment::current() { return t_current; }

Ref<env::IKvAudioEncoder> createEncoder(const published::EncoderClass& c, HRESULT* status) {
    Ref<env::IKvAudioEncoder> encoder;
    const HRESULT hr = CoCreateInstance(published::guid<CLSID>(c.clsid), nullptr, CLSCTX_INPROC_SERVER,
                                        env::IID_KvAudioEncoder, encoder.put());
    if (status) *status = hr;
    return encoder;
}

}  // namespace threads
