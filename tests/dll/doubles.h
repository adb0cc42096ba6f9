#pragma once

// The components an encoder object meets, as a client would write them from
// their slots: the shared-object registry and the capture component, served
// to the module by class objects registered with COM, and sinks. Every call
// the module makes on them goes into one log.

#include "tests/dll/client.h"

#include <algorithm>
#include <string>
#include <vector>

namespace client {

std::vector<std::string>& callLog();

// IUnknown and an IDispatch without type information for one interface.
template <class I>
class Unknown : public I {
public:
    explicit Unknown(const IID& iid) : m_iid(iid) {}
    virtual ~Unknown() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) || IsEqualGUID(riid, m_iid)) {
            *ppv = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG n = --m_refs;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    LONG refs() const { return m_refs; }

private:
    const IID m_iid;
    LONG m_refs = 0;
};

// Creates a T and hands it out with one reference.
template <class T>
Ptr<T> make() {
    return Ptr<T>(new T);
}

class SinkDouble : public Unknown<IKvAudioSink> {
public:
    SinkDouble() : Unknown(IID_IKvAudioSink) {}

    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override;
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override;

    // Every block's length, and all bytes in order.
    std::vector<LONG> blocks;
    std::vector<std::uint8_t> bytes;
    // Each call is logged as "<name>.OnEncodedData <length>" when named.
    std::string name;
};

class RecorderDouble : public Unknown<IKvAudioRecorder> {
public:
    RecorderDouble() : Unknown(IID_IKvAudioRecorder) {}

    HRESULT STDMETHODCALLTYPE CaptureFile(LPCOLESTR, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProperty(LPCOLESTR name, LPCOLESTR value) override;
    HRESULT STDMETHODCALLTYPE AddDataTarget(IUnknown* target) override;
    HRESULT STDMETHODCALLTYPE RemoveDataTarget(IUnknown* target) override;

    // Plays the capture: hands the bytes to every data target in calls of at
    // most chunk bytes, through IKvAudioEncoder as a capture component must.
    void capture(const std::uint8_t* data, std::size_t size, std::size_t chunk);
    void capture(const std::vector<std::uint8_t>& pcm, std::size_t chunk) { capture(pcm.data(), pcm.size(), chunk); }

    // Not owned: the encoder takes itself out before it goes.
    std::vector<IUnknown*> targets;
};

class RegistryDouble : public Unknown<IKvObjectRegistry> {
public:
    RegistryDouble() : Unknown(IID_IKvObjectRegistry) {}

    HRESULT STDMETHODCALLTYPE AddObject(LPCOLESTR name, IUnknown* object) override;
    HRESULT STDMETHODCALLTYPE RemoveObject(BSTR name) override;
    HRESULT STDMETHODCALLTYPE LookupObject(LPCOLESTR name, IUnknown** object) override;
};

// What the module finds around it: the class objects of the two components,
// registered with COM for the whole run, and the running capture component
// that every registry hands out (none: the encoder creates one).
struct World {
    static void install();
    static void uninstall();
    // Before every test: an empty log, nothing running, nothing created.
    static void reset();

    static Ptr<IUnknown> running;
    // A registry may lend the running object (the default here) or hand out
    // a reference with it; the module must not release it either way.
    static bool lookupAddsReference;
    static std::vector<Ptr<RecorderDouble>> createdRecorders;
};

}  // namespace client
