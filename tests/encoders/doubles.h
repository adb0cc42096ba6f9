// Test doubles for the components outside the encoder module: a registry, a
// capture component and sinks that record what the encoder asks of them.
#pragma once

#include "com/ClassFactory.h"
#include "tests/com/last_error.h"
#include "com/Object.h"
#include "com/NoTypeInfo.h"
#include "interfaces/Interfaces.h"

#include <functional>
#include <string>
#include <vector>

namespace kvtest {

// An object's reference count, read through its own AddRef and Release.
inline ULONG refs(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

inline std::string narrow(const OLECHAR* s) {
    std::string r;
    for (; s && *s; ++s) r += static_cast<char>(*s);
    return r;
}

// The calls the encoder made on the outside components, in order.
inline std::vector<std::string>& callLog() {
    static std::vector<std::string> log;
    return log;
}

using kv::com::NoTypeInfo;

class FakeRecorder : public kv::com::implements<FakeRecorder, NoTypeInfo<IKvAudioRecorder>> {
public:
    explicit FakeRecorder(std::string name = "recorder") : m_name(std::move(name)) {}
    HRESULT STDMETHODCALLTYPE CaptureFile(LPCOLESTR, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProperty(LPCOLESTR name, LPCOLESTR value) override {
        callLog().push_back(m_name + ".SetProperty " + narrow(name) + "=" + narrow(value));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddDataTarget(IUnknown* target) override {
        callLog().push_back(m_name + ".AddDataTarget");
        lastTarget = target;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveDataTarget(IUnknown* target) override {
        callLog().push_back(m_name + ".RemoveDataTarget");
        lastTarget = target;
        return S_OK;
    }
    ~FakeRecorder() override { callLog().push_back(m_name + ".destroyed"); }

    IUnknown* lastTarget = nullptr;

private:
    std::string m_name;
};

class FakeRegistry : public kv::com::implements<FakeRegistry, NoTypeInfo<IKvObjectRegistry>> {
public:
    HRESULT STDMETHODCALLTYPE AddObject(LPCOLESTR, IUnknown* object) override {
        running = kv::com::ComPtr<IUnknown>(object);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveObject(BSTR name) override {
        callLog().push_back("registry.RemoveObject " + narrow(name));
        return S_OK;
    }
    // Lends the running object, or, when addsReference is set, hands the
    // caller a reference as well: the encoder must cope with either.
    HRESULT STDMETHODCALLTYPE LookupObject(LPCOLESTR name, IUnknown** object) override {
        callLog().push_back("registry.LookupObject " + narrow(name));
        *object = running.get();
        if (*object && addsReference) (*object)->AddRef();
        return S_OK;
    }
    kv::com::ComPtr<IUnknown> running;
    bool addsReference = false;
};

class RecordingSink : public kv::com::implements<RecordingSink, NoTypeInfo<IKvAudioSink>> {
public:
    explicit RecordingSink(std::string name = "sink") : m_name(std::move(name)) {}
    ~RecordingSink() override { callLog().push_back(m_name + ".destroyed"); }
    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override {
        *count = static_cast<LONG>(bytes.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override {
        blocks.push_back(length);
        if (length > 0) bytes.insert(bytes.end(), data, data + length);
        if (onData) onData(*this);
        return S_OK;
    }
    const std::string& name() const { return m_name; }

    std::vector<LONG> blocks;  // the length of every block, empty ones included
    std::vector<BYTE> bytes;   // everything received, in order
    std::function<void(RecordingSink&)> onData;

private:
    std::string m_name;
};

// A class object that hands out one given instance, or fails with a given status.
class FixedFactory : public kv::com::implements<FixedFactory, IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!object) {
            *ppv = nullptr;
            return failure;
        }
        return object->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    kv::com::ComPtr<IUnknown> object;
    HRESULT failure = E_OUTOFMEMORY;
};

// A class object creating a new FakeRecorder on every request.
class RecorderFactory : public kv::com::implements<RecorderFactory, IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        if (FAILED(failure)) {
            *ppv = nullptr;
            return failure;
        }
        auto r = kv::com::make<FakeRecorder>("recorder" + std::to_string(++created));
        callLog().push_back("new recorder" + std::to_string(created));
        return r->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    int created = 0;
    HRESULT failure = S_OK;  // a failure status makes every creation fail
};

// COM initialised on this thread with the doubles registered as the registry
// and capture classes for the life of the fixture.
class ComponentsFixture {
public:
    ComponentsFixture() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        callLog().clear();
        registry = kv::com::make<FakeRegistry>();
        registryFactory = kv::com::make<FixedFactory>();
        registryFactory->object = registry.query<IUnknown>();
        recorders = kv::com::make<RecorderFactory>();
        CoRegisterClassObject(kv::CLSID_KvObjectRegistry, static_cast<IClassFactory*>(registryFactory.get()),
                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_registryCookie);
        CoRegisterClassObject(kv::CLSID_KvAudioRecorder, static_cast<IClassFactory*>(recorders.get()),
                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_recorderCookie);
    }
    ~ComponentsFixture() {
        CoRevokeClassObject(m_registryCookie);
        CoRevokeClassObject(m_recorderCookie);
        registry.reset();
        CoUninitialize();
    }

    kv::com::ComPtr<FakeRegistry> registry;
    kv::com::ComPtr<FixedFactory> registryFactory;
    kv::com::ComPtr<RecorderFactory> recorders;

private:
    DWORD m_registryCookie = 0;
    DWORD m_recorderCookie = 0;
};

}  // namespace kvtest
