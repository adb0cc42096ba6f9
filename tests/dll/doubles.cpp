#include "tests/dll/doubles.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace client {

std::vector<std::string>& callLog() {
    static std::vector<std::string> log;
    return log;
}

HRESULT STDMETHODCALLTYPE SinkDouble::GetBytesReceived(LONG* count) {
    if (!count) return E_POINTER;
    *count = static_cast<LONG>(bytes.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SinkDouble::OnEncodedData(BYTE* data, LONG length) {
    if (length < 0 || (length > 0 && !data)) {
        ADD_FAILURE() << "OnEncodedData(" << static_cast<void*>(data) << ", " << length << ")";
        return E_INVALIDARG;
    }
    if (!name.empty()) callLog().push_back(name + ".OnEncodedData " + std::to_string(length));
    blocks.push_back(length);
    bytes.insert(bytes.end(), data, data + length);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecorderDouble::SetProperty(LPCOLESTR name, LPCOLESTR value) {
    callLog().push_back("recorder.SetProperty " + narrow(name) + "=" + narrow(value));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecorderDouble::AddDataTarget(IUnknown* target) {
    callLog().push_back("recorder.AddDataTarget");
    if (!target) return E_POINTER;
    if (std::find(targets.begin(), targets.end(), target) != targets.end()) return S_FALSE;
    targets.push_back(target);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RecorderDouble::RemoveDataTarget(IUnknown* target) {
    callLog().push_back("recorder.RemoveDataTarget");
    const auto at = std::find(targets.begin(), targets.end(), target);
    if (at == targets.end()) return S_FALSE;
    targets.erase(at);
    return S_OK;
}

void RecorderDouble::capture(const std::uint8_t* data, std::size_t size, std::size_t chunk) {
    for (std::size_t at = 0; at < size; at += chunk) {
        const std::size_t n = std::min(chunk, size - at);
        // A target may leave during the call; walk a copy.
        const std::vector<IUnknown*> now = targets;
        for (IUnknown* target : now) {
            Ptr<IKvAudioEncoder> encoder;
            ASSERT_EQ(target->QueryInterface(IID_IKvAudioEncoder, encoder.putVoid()), S_OK);
            EXPECT_EQ(encoder->OnAudioData(const_cast<BYTE*>(data + at), static_cast<LONG>(n)), S_OK);
        }
    }
}

HRESULT STDMETHODCALLTYPE RegistryDouble::AddObject(LPCOLESTR name, IUnknown* object) {
    callLog().push_back("registry.AddObject " + narrow(name));
    World::running = Ptr<IUnknown>(object);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RegistryDouble::RemoveObject(BSTR name) {
    // The name travels as a real BSTR: its length prefix must match the text.
    const std::string text = narrow(name);
    if (name && SysStringLen(name) != std::wstring(name).size()) ADD_FAILURE() << "not a BSTR: " << text;
    callLog().push_back("registry.RemoveObject " + text);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RegistryDouble::LookupObject(LPCOLESTR name, IUnknown** object) {
    callLog().push_back("registry.LookupObject " + narrow(name));
    if (!object) return E_POINTER;
    *object = World::running.get();
    if (*object && World::lookupAddsReference) (*object)->AddRef();
    return S_OK;
}

// ---- class objects ----------------------------------------------------------------

namespace {

template <class T>
class ClassObject final : public IClassFactory {
public:
    explicit ClassObject(const char* what) : m_what(what) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Lives for the whole run.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        callLog().push_back(std::string(m_what) + ".create");
        Ptr<T> object = make<T>();
        if constexpr (std::is_same_v<T, RecorderDouble>) World::createdRecorders.push_back(object);
        return object->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    DWORD cookie = 0;

private:
    const char* m_what;
};

ClassObject<RegistryDouble> g_registryClass("registry");
ClassObject<RecorderDouble> g_recorderClass("recorder");

}  // namespace

Ptr<IUnknown> World::running;
bool World::lookupAddsReference = false;
std::vector<Ptr<RecorderDouble>> World::createdRecorders;

void World::install() {
    const HRESULT a = CoRegisterClassObject(CLSID_KvObjectRegistry, &g_registryClass, CLSCTX_INPROC_SERVER,
                                            REGCLS_MULTIPLEUSE, &g_registryClass.cookie);
    const HRESULT b = CoRegisterClassObject(CLSID_KvAudioRecorder, &g_recorderClass, CLSCTX_INPROC_SERVER,
                                            REGCLS_MULTIPLEUSE, &g_recorderClass.cookie);
    if (FAILED(a) || FAILED(b)) ADD_FAILURE() << "CoRegisterClassObject: " << std::hex << a << " " << b;
}

void World::uninstall() {
    reset();
    CoRevokeClassObject(g_registryClass.cookie);
    CoRevokeClassObject(g_recorderClass.cookie);
}

void World::reset() {
    lookupAddsReference = false;
    callLog().clear();
    running.reset();
    createdRecorders.clear();
}

}  // namespace client
