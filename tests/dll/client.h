#pragma once

// What a client of KvAudioEncoder.dll knows: the ProgIDs, the class and
// interface identifiers (tests/published_ids.h), and the method slots of the
// interfaces it calls or implements. Nothing here comes from the product's
// own headers, so these tests see the module only through its published
// contract.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/published_ids.h"

namespace client {

// ---- identifiers ---------------------------------------------------------------

using published::guid;
inline std::wstring wide(const char* text) { return published::text<wchar_t>(text); }

constexpr GUID kLibIdEncoderLib = guid<GUID>(published::kEncoderLib.libId);
// Type libraries are registered for the bitness of the module and its clients.
constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
constexpr GUID kLibIdKvLib = guid<GUID>(published::kKvLib.libId);

constexpr IID IID_IKvAudioEncoder = guid<IID>(published::kEncoderIid);
constexpr IID IID_IKvAudioSink = guid<IID>(published::kSinkIid);
constexpr IID IID_IKvObjectRegistry = guid<IID>(published::kObjectRegistryIid);
constexpr IID IID_IKvAudioRecorder = guid<IID>(published::kAudioRecorderIid);

constexpr CLSID CLSID_KvObjectRegistry = guid<CLSID>(published::kRegistry.clsid);
constexpr CLSID CLSID_KvAudioRecorder = guid<CLSID>(published::kRecorder.clsid);

// An encoder class: its published identities, some in this client's types.
struct EncoderClass {
    const published::EncoderClass& ids;
    const char* name = ids.name;  // for test names
    CLSID clsid = guid<CLSID>(ids.clsid);
    IID classIid = guid<IID>(ids.classIid);  // the member-less dual class interface
    std::wstring progId = wide(ids.versionIndependentProgId) + L".1";
    std::wstring versionIndependentProgId = wide(ids.versionIndependentProgId);
    const char* registryName = ids.registryName;  // what the object removes from the registry component
};

inline const EncoderClass kG711A{published::kG711A};
inline const EncoderClass kG711U{published::kG711U};
inline const EncoderClass kG7231{published::kG7231};
inline const EncoderClass kQuorvan{published::kQuorvan};

// In the module's registration order.
inline const EncoderClass* const kEncoderClasses[] = {&kG711A, &kG711U, &kG7231, &kQuorvan};

// ---- interfaces, by slot ---------------------------------------------------------

struct IKvAudioEncoder : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Reserved1(LONG, LONG) = 0;                 // 7
    virtual HRESULT STDMETHODCALLTYPE Reserved2(LONG, LONG) = 0;                 // 8
    virtual HRESULT STDMETHODCALLTYPE AddSink(IUnknown* sink) = 0;               // 9
    virtual HRESULT STDMETHODCALLTYPE RemoveSink(IUnknown* sink) = 0;            // 10
    virtual HRESULT STDMETHODCALLTYPE OnAudioData(BYTE* data, LONG length) = 0;  // 11
};

struct IKvAudioSink : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) = 0;           // 7
    virtual HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) = 0;  // 8
};

struct IKvObjectRegistry : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE AddObject(LPCOLESTR name, IUnknown* object) = 0;      // 7
    virtual HRESULT STDMETHODCALLTYPE RemoveObject(BSTR name) = 0;                          // 8
    virtual HRESULT STDMETHODCALLTYPE LookupObject(LPCOLESTR name, IUnknown** object) = 0;  // 9
};

struct IKvAudioRecorder : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE CaptureFile(LPCOLESTR path, LONG chunkBytes) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE SetProperty(LPCOLESTR name, LPCOLESTR value) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE AddDataTarget(IUnknown* target) = 0;               // 9
    virtual HRESULT STDMETHODCALLTYPE RemoveDataTarget(IUnknown* target) = 0;            // 10
};

// ---- an owning interface pointer ---------------------------------------------------

template <class T>
class Ptr {
public:
    Ptr() = default;
    explicit Ptr(T* p, bool addRef = true) : m_p(p) {
        if (m_p && addRef) m_p->AddRef();
    }
    Ptr(const Ptr& o) : Ptr(o.m_p) {}
    Ptr(Ptr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    Ptr& operator=(Ptr o) noexcept {
        std::swap(m_p, o.m_p);
        return *this;
    }
    ~Ptr() { reset(); }

    void reset() {
        if (T* p = std::exchange(m_p, nullptr)) p->Release();
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    T** put() {
        reset();
        return &m_p;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    template <class U>
    Ptr<U> query(REFIID iid) const {
        Ptr<U> out;
        if (m_p) m_p->QueryInterface(iid, out.putVoid());
        return out;
    }
    // The COM identity of the object behind the pointer.
    IUnknown* identity() const {
        Ptr<IUnknown> u = query<IUnknown>(IID_IUnknown);
        return u.get();
    }

private:
    T* m_p = nullptr;
};

// ---- where things are ------------------------------------------------------------

// From the command line (see main.cpp).
struct Paths {
    std::wstring dll;    // the registered module, as InprocServer32 must show it
    std::wstring kvLib;  // KvLib.tlb, which the outside components ship
    std::wstring data;   // the tests' data folder
};
const Paths& paths();
void setPaths(const Paths& p);

std::vector<std::uint8_t> readFile(const std::wstring& path);
std::string narrow(const wchar_t* s);
std::string narrow(const std::wstring& s);

}  // namespace client
