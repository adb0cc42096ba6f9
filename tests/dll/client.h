#pragma once

// What a client of KvAudioEncoder.dll knows: the ProgIDs, the class and
// interface identifiers, and the method slots of the interfaces it calls or
// implements. Nothing here comes from the project's own headers, so these
// tests see the module only through its published contract.

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

namespace client {

// ---- identifiers ---------------------------------------------------------------

constexpr GUID kLibIdEncoderLib = {0x43CFE32C, 0xE2DD, 0x487D, {0x8A, 0x1C, 0x68, 0x88, 0xF6, 0x19, 0x98, 0xD9}};
// Type libraries are registered for the bitness of the module and its clients.
constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
constexpr GUID kLibIdKvLib = {0x575AA7B5, 0xE1A9, 0x414D, {0x8E, 0xF9, 0xAA, 0xE3, 0x17, 0xE1, 0x0B, 0x10}};

constexpr IID IID_IKvAudioEncoder = {0xABF09E32, 0x54C3, 0x4425, {0x90, 0xF1, 0x0B, 0x34, 0xCD, 0xC0, 0x96, 0x90}};
constexpr IID IID_IKvAudioSink = {0x7A0A540B, 0xE78A, 0x40B0, {0x90, 0x1E, 0x01, 0x02, 0x05, 0x41, 0xC6, 0x82}};
constexpr IID IID_IKvObjectRegistry = {0x24361205, 0xDC52, 0x447C, {0x94, 0x14, 0xE0, 0xA9, 0x49, 0xE0, 0xAC, 0x41}};
constexpr IID IID_IKvAudioRecorder = {0xA0BC833A, 0x239A, 0x4D4F, {0x90, 0xD8, 0x90, 0x7C, 0x81, 0x4D, 0xAC, 0x4C}};

constexpr CLSID CLSID_KvObjectRegistry = {0xCF9F1B41, 0x9E58, 0x43C4, {0x90, 0x15, 0xA6, 0xD2, 0xE2, 0x26, 0x14, 0xB1}};
constexpr CLSID CLSID_KvAudioRecorder = {0xD0CC397C, 0x2790, 0x485A, {0xB9, 0x96, 0x5E, 0x7A, 0x31, 0x11, 0xC1, 0xED}};

// One row per encoder class, in the module's registration order.
struct EncoderClass {
    const char* name;  // for test names
    CLSID clsid;
    IID classIid;              // the member-less dual class interface
    const wchar_t* clsidText;  // as the registry shows it
    const wchar_t* classIidText;
    const wchar_t* progId;
    const wchar_t* versionIndependentProgId;
    const wchar_t* description;
    const char* registryName;  // what the object removes from the registry component
};

inline const EncoderClass kG711A{"G711A",
                                 {0xE078E6AE, 0x97CD, 0x4380, {0xBC, 0x5A, 0xE4, 0x6C, 0x83, 0x81, 0x77, 0xDC}},
                                 {0x8216FC5A, 0xA89E, 0x446E, {0xA2, 0x53, 0xD4, 0x4E, 0x1F, 0xD3, 0x55, 0x20}},
                                 L"{E078E6AE-97CD-4380-BC5A-E46C838177DC}",
                                 L"{8216FC5A-A89E-446E-A253-D44E1FD35520}",
                                 L"KvAudioEncoder.KV_AudioG711A.1",
                                 L"KvAudioEncoder.KV_AudioG711A",
                                 L"KV_AudioG711A Class",
                                 "KvCom.KvAudio.KvAudioEncoder.KVG711A"};
inline const EncoderClass kG711U{"G711U",
                                 {0x92715B73, 0x1FA7, 0x4476, {0x90, 0xE8, 0xBD, 0x8A, 0xBA, 0x9D, 0xEA, 0xDA}},
                                 {0xD66BF624, 0x6E29, 0x4EC8, {0x9C, 0x3F, 0xBC, 0x7B, 0x1B, 0xDF, 0x30, 0x31}},
                                 L"{92715B73-1FA7-4476-90E8-BD8ABA9DEADA}",
                                 L"{D66BF624-6E29-4EC8-9C3F-BC7B1BDF3031}",
                                 L"KvAudioEncoder.KV_AudioG711U.1",
                                 L"KvAudioEncoder.KV_AudioG711U",
                                 L"KV_AudioG711U Class",
                                 "KvCom.KvAudio.KvAudioEncoder.KVG711U"};
inline const EncoderClass kG7231{"G7231",
                                 {0x3E12020B, 0x744C, 0x4FD1, {0xB9, 0xF8, 0x03, 0xE1, 0xB8, 0x1A, 0xF6, 0xF9}},
                                 {0x43AB6695, 0x8EC3, 0x45FB, {0x87, 0xF7, 0x89, 0xC9, 0x09, 0x91, 0x04, 0x8F}},
                                 L"{3E12020B-744C-4FD1-B9F8-03E1B81AF6F9}",
                                 L"{43AB6695-8EC3-45FB-87F7-89C90991048F}",
                                 L"KvAudioEncoder.KV_AudioG7231.1",
                                 L"KvAudioEncoder.KV_AudioG7231",
                                 L"KV_AudioG7231 Class",
                                 "KvCom.KvAudio.KvAudioEncoder.KVG7231"};
inline const EncoderClass kQuorvan{"Quorvan",
                                   {0x80C6869B, 0x6799, 0x40A9, {0xBC, 0x55, 0x3B, 0x6D, 0x49, 0xFD, 0x0D, 0x27}},
                                   {0x2C5F51DD, 0x0EB8, 0x4481, {0x85, 0x0A, 0xB8, 0xAE, 0xE2, 0x87, 0x20, 0x07}},
                                   L"{80C6869B-6799-40a9-BC55-3B6D49FD0D27}",  // lower case as registered
                                   L"{2C5F51DD-0EB8-4481-850A-B8AEE2872007}",
                                   L"KvAudioEncoder.KV_AudioQuorvan.1",
                                   L"KvAudioEncoder.KV_AudioQuorvan",
                                   L"KV_AudioQuorvan Class",
                                   "KvCom.KvAudio.KvAudioEncoder.KVG722"};

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
