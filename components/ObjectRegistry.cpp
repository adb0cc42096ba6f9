#include "components/ObjectRegistry.h"

#include "com/Barrier.h"

namespace kv::components {

namespace {

// Each apartment's registry, while one is alive. Not references: a registry
// takes itself off in its last release, under this lock, so a creator never
// finds an object that is on its way out.
std::mutex g_sharedLock;
std::map<Apartment, CKvObjectRegistry*> g_shared;

using kv::com::operator<<;

HRESULT failed(HRESULT hr, const char* what, BSTR name) {
    return describedFailure(hr, kRegistryProgId, IID_IKvRegistry, [&](kv::com::ErrorText& text) {
        text << what << " '" << kv::com::Clipped{name} << "'";
        if (hr == E_OUTOFMEMORY) text << ": out of memory";
        if (hr == E_INVALIDARG) text << ": the name is empty";
        if (hr == E_POINTER) text << ": no object given";
        if (hr == E_NOINTERFACE) text << ": the object has no IDispatch for scripts";
    });
}

}  // namespace

Apartment currentApartment() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(CoGetApartmentType(&type, &qualifier))) type = APTTYPE_MTA;  // no COM: an implicit member
    if (type == APTTYPE_MAINSTA) type = APTTYPE_STA;
    return {type, type == APTTYPE_STA ? std::this_thread::get_id() : std::thread::id()};
}

HRESULT createSharedRegistry(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // One shared object cannot belong to an aggregate.
    if (outer) return CLASS_E_NOAGGREGATION;
    return kv::com::guarded([&] {
        // Its reference goes after the lock: the object's Release takes it.
        kv::com::ComPtr<CKvObjectRegistry> created;
        const Apartment here = currentApartment();
        std::lock_guard<std::mutex> guard(g_sharedLock);
        CKvObjectRegistry*& shared = g_shared[here];
        if (!shared) {
            created = kv::com::make<CKvObjectRegistry>(here);
            if (!created) {
                g_shared.erase(here);
                return E_OUTOFMEMORY;
            }
            shared = created.get();
        }
        const HRESULT hr = shared->internalQueryInterface(riid, ppv);
        // A new object that nobody took is released right after, unseen.
        if (FAILED(hr) && created) g_shared.erase(here);
        return hr;
    });
}

ULONG STDMETHODCALLTYPE CKvObjectRegistry::Release() {
    ULONG count;
    {
        std::lock_guard<std::mutex> guard(g_sharedLock);
        count = internalRelease();
        const auto it = count == 0 ? g_shared.find(m_apartment) : g_shared.end();
        if (it != g_shared.end() && it->second == this) g_shared.erase(it);
    }
    // Outside the lock: the entries' releases may create a registry again.
    if (count == 0) destroy(this);
    return count;
}

HRESULT STDMETHODCALLTYPE CKvObjectRegistry::Add(BSTR name, IUnknown* object) {
    const HRESULT hr = AddObject(name ? name : KV_W(""), object);
    return FAILED(hr) ? failed(hr, "cannot enter", name) : S_OK;
}

HRESULT STDMETHODCALLTYPE CKvObjectRegistry::Remove(BSTR name) {
    const HRESULT hr = RemoveObject(name);
    return FAILED(hr) ? failed(hr, "cannot remove", name) : S_OK;
}

HRESULT STDMETHODCALLTYPE CKvObjectRegistry::Lookup(BSTR name, IDispatch** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    kv::com::ComPtr<IUnknown> entry;
    {
        IUnknown* lent = nullptr;
        std::lock_guard<std::mutex> guard(m_lock);
        const HRESULT hr = kv::com::guarded([&] {
            auto it = m_objects.find(OleString(name ? name : KV_W("")));
            if (it != m_objects.end()) lent = it->second.get();
            return S_OK;
        });
        if (FAILED(hr)) return failed(hr, "cannot look up", name);
        // Held past the lock: another thread may remove the entry meanwhile.
        entry = kv::com::ComPtr<IUnknown>(lent);
    }
    if (!entry) return S_OK;  // Nothing
    const HRESULT hr = entry->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(object));
    return FAILED(hr) ? failed(E_NOINTERFACE, "cannot hand out", name) : S_OK;
}

HRESULT STDMETHODCALLTYPE CKvObjectRegistry::AddObject(LPCOLESTR name, IUnknown* object) {
    if (!name || !object) return E_POINTER;
    if (!*name) return E_INVALIDARG;
    // Ends holding what the name had before, released after the lock.
    kv::com::ComPtr<IUnknown> entry(object);
    return kv::com::guarded([&] {
        OleString key(name);
        std::lock_guard<std::mutex> guard(m_lock);
        entry.swap(m_objects[std::move(key)]);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CKvObjectRegistry::RemoveObject(BSTR name) {
    if (!name) return S_FALSE;
    kv::com::ComPtr<IUnknown> removed;  // released after the lock
    return kv::com::guarded([&] {
        // Up to the terminator, not by the BSTR's length prefix: callers that
        // pass a plain wide string still find their entry.
        const OleString key(name);
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_objects.find(key);
        if (it == m_objects.end()) return S_FALSE;
        removed = std::move(it->second);
        m_objects.erase(it);
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CKvObjectRegistry::LookupObject(LPCOLESTR name, IUnknown** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!name) return E_POINTER;
    return kv::com::guarded([&] {
        const OleString key(name);
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_objects.find(key);
        if (it == m_objects.end()) return S_FALSE;
        *object = it->second.get();  // borrowed: the entry keeps the reference
        return S_OK;
    });
}

std::size_t CKvObjectRegistry::size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_objects.size();
}

}  // namespace kv::components
