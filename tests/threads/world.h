#pragma once

// What an encoder object meets in one apartment, written from the published
// slots so that the same tests run on host and as clients of the registered
// DLL under Wine: a shared-object registry that hands out the apartment's
// running capture component, the capture component, and sinks. env.h (one per
// platform, picked by the build) supplies the identifiers and the server.
//
// These are apartment objects like the encoders: plain counts, each used only
// on the thread that made it. Only the registry's class object is shared, and
// it keeps no state.

#include "env.h"
#include "tests/published_ids.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace threads {

// An owning interface pointer.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : m_p(p) {}  // takes the reference p comes with
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~Ref() { reset(); }

    void reset() {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    void** put() {
        reset();
        return reinterpret_cast<void**>(&m_p);
    }

private:
    T* m_p = nullptr;
};

// IUnknown and a type-less IDispatch for one interface.
template <class I>
class Unknown : public I {
public:
    explicit Unknown(const IID& iid) : m_iid(iid) {}
    virtual ~Unknown() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, env::IID_Unknown) || IsEqualGUID(riid, env::IID_Dispatch) || IsEqualGUID(riid, m_iid)) {
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

template <class T>
Ref<T> make() {
    T* p = new T;
    p->AddRef();
    return Ref<T>(p);
}

// Keeps what it is handed (or, without keep, only counts it), and counts
// calls that break the block contract instead of trusting them.
class Sink final : public Unknown<env::IKvAudioSink> {
public:
    Sink() : Unknown(env::IID_KvAudioSink) {}

    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override;
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override;

    std::vector<std::uint8_t> bytes;
    long long received = 0;
    long long calls = 0;
    long long malformed = 0;
    bool keep = true;
};

// Hands every piece of the capture to each data target, as a capture
// component does, on the calling thread.
class Recorder final : public Unknown<env::IKvAudioRecorder> {
public:
    Recorder() : Unknown(env::IID_KvAudioRecorder) {}

    HRESULT STDMETHODCALLTYPE CaptureFile(LPCOLESTR, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProperty(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddDataTarget(IUnknown* target) override;
    HRESULT STDMETHODCALLTYPE RemoveDataTarget(IUnknown* target) override;

    // False when a target would not take the data.
    bool capture(const std::vector<std::uint8_t>& pcm, std::size_t chunk);

    std::vector<IUnknown*> targets;  // not owned: a target leaves before it goes
};

// One COM apartment on the calling thread: CoInitializeEx, the registry's
// class object registered in it, and a running capture component that the
// registry hands out. Nested in time on one thread only.
class Apartment {
public:
    Apartment();
    ~Apartment();
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

    // S_OK (or S_FALSE, an apartment already there) when usable.
    HRESULT status() const { return m_status; }
    Recorder& recorder() { return *m_recorder.get(); }

    static Apartment* current();

private:
    HRESULT m_status;
    bool m_initialised = false;
    DWORD m_cookie = 0;
    Ref<Recorder> m_recorder;
    Apartment* m_outer;
};

// An encoder of the class through the COM runtime, as a client creates one.
Ref<env::IKvAudioEncoder> createEncoder(const published::EncoderClass& c, HRESULT* status = nullptr);

}  // namespace threads
