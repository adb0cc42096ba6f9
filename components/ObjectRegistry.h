#pragma once

#include <compare>
#include <map>
#include <mutex>
#include <thread>

#include "com/ErrorInfo.h"
#include "com/Object.h"
#include "components/Components.h"
#include "com/NoTypeInfo.h"

namespace kv::components {

// An apartment as the registry tells them apart: a single-threaded one by
// its thread, the multithreaded one (which a thread without COM joins
// implicitly) as one.
struct Apartment {
    APTTYPE type;
    std::thread::id thread;
    auto operator<=>(const Apartment&) const = default;
};
Apartment currentApartment();

// The shared-object registry: running objects entered under wide names, one
// reference held per entry. Names are compared exactly (case matters).
//
// AddObject replaces an earlier entry of the name (S_OK). RemoveObject of a
// name that is not entered changes nothing and answers S_FALSE. LookupObject
// hands out the entry as a borrowed pointer (S_OK), without a reference of
// the caller's, as the encoder objects expect: they never release what it
// gives them. The pointer stays good while the entry does. An absent name is
// null with S_FALSE, so a caller may test either. A null or empty name is
// E_POINTER / E_INVALIDARG.
//
// Scripts use IKvRegistry, the default interface: Add and Remove as above
// (Remove of an absent name is no error); Lookup gives the entry's IDispatch
// with a reference of the caller's, as automation wants, and Nothing for an
// absent name. An entry that has no IDispatch cannot reach a script: Lookup
// of it fails with E_NOINTERFACE rather than pretend the name is free.
//
// One registry serves each apartment (see createSharedRegistry), so that no
// object is lent to another apartment. The MTA's is called on any of its
// threads, so the map is locked and the count interlocked. An entry is
// released outside the lock: its last release may come back here.
class CKvObjectRegistry
    : public kv::com::implements<CKvObjectRegistry, ComponentDispatch<IKvRegistry>, NoTypeInfo<IKvObjectRegistry>,
                                 kv::com::alias<IDispatch, IKvRegistry>, kv::com::SupportsErrorInfo<IKvRegistry>,
                                 kv::com::interlocked_count> {
public:
    explicit CKvObjectRegistry(const Apartment& apartment) : m_apartment(apartment) {}

    HRESULT STDMETHODCALLTYPE AddObject(LPCOLESTR name, IUnknown* object) override;
    HRESULT STDMETHODCALLTYPE RemoveObject(BSTR name) override;
    HRESULT STDMETHODCALLTYPE LookupObject(LPCOLESTR name, IUnknown** object) override;

    HRESULT STDMETHODCALLTYPE Add(BSTR name, IUnknown* object) override;
    HRESULT STDMETHODCALLTYPE Remove(BSTR name) override;
    HRESULT STDMETHODCALLTYPE Lookup(BSTR name, IDispatch** object) override;

    // The last release takes the object off its apartment's place before it
    // goes, under the lock createSharedRegistry takes.
    ULONG STDMETHODCALLTYPE Release() override;

    std::size_t size() const;

private:
    const Apartment m_apartment;
    kv::com::ModuleLock m_moduleLock;
    mutable std::mutex m_lock;
    std::map<OleString, kv::com::ComPtr<IUnknown>> m_objects;
};

// The class's instance creator: every call hands out the calling apartment's
// registry, made on the first call there and kept until its last reference
// goes (the next call then makes a new, empty one). No aggregation.
HRESULT createSharedRegistry(IUnknown* outer, REFIID riid, void** ppv);

}  // namespace kv::components
