#include <atomic>
#include <new>
#include <string>

#include "platform/win32.h"

const IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

namespace {

using Text = std::basic_string<OLECHAR>;

// One object answers both sides, as the runtime's does.
class ErrorObject final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IErrorInfo)) {
            *ppv = static_cast<IErrorInfo*>(this);
        } else if (IsEqualGUID(riid, IID_ICreateErrorInfo)) {
            *ppv = static_cast<ICreateErrorInfo*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_count; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_count;
        if (n == 0) delete this;
        return n;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
        if (!guid) return E_INVALIDARG;
        *guid = m_guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return copy(m_source, out); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return copy(m_description, out); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return copy(m_helpFile, out); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) override {
        if (!context) return E_INVALIDARG;
        *context = m_helpContext;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
        m_guid = guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return assign(m_source, text); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override { return assign(m_description, text); }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return assign(m_helpFile, text); }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
        m_helpContext = context;
        return S_OK;
    }

private:
    static HRESULT copy(const Text& text, BSTR* out) {
        if (!out) return E_INVALIDARG;
        *out = text.empty() ? nullptr : SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return S_OK;
    }
    static HRESULT assign(Text& field, LPOLESTR text) {
        try {
            field = text ? Text(text) : Text();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    std::atomic<ULONG> m_count{0};
    GUID m_guid = GUID_NULL;
    Text m_source, m_description, m_helpFile;
    DWORD m_helpContext = 0;
};

// Released when the thread ends, as the runtime does at CoUninitialize.
struct Slot {
    IErrorInfo* error = nullptr;
    ~Slot() {
        if (error) error->Release();
    }
};
thread_local Slot t_slot;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    auto* object = new (std::nothrow) ErrorObject;
    if (!object) return E_OUTOFMEMORY;
    return object->QueryInterface(IID_ICreateErrorInfo, reinterpret_cast<void**>(out));
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* error) {
    if (error) error->AddRef();
    IErrorInfo* old = t_slot.error;
    t_slot.error = error;
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** out) {
    if (!out) return E_INVALIDARG;
    *out = t_slot.error;
    t_slot.error = nullptr;
    return *out ? S_OK : S_FALSE;
}
