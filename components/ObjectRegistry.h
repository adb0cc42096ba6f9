#pragma once

#include <map>
#include <mutex>

#include "com/Object.h"
#include "components/Components.h"
#include "com/NoTypeInfo.h"

namespace kv::components {

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
// One registry serves the whole process (see RegisterComponents), whichever
// thread asks, so the map is locked and the count interlocked. An entry is
// released outside the lock: its last release may come back here.
class CKvObjectRegistry
    : public kv::com::implements<CKvObjectRegistry, NoTypeInfo<IKvObjectRegistry>,
                                 kv::com::alias<IDispatch, IKvObjectRegistry>, kv::com::interlocked_count> {
public:
    HRESULT STDMETHODCALLTYPE AddObject(LPCOLESTR name, IUnknown* object) override;
    HRESULT STDMETHODCALLTYPE RemoveObject(BSTR name) override;
    HRESULT STDMETHODCALLTYPE LookupObject(LPCOLESTR name, IUnknown** object) override;

    std::size_t size() const;

private:
    mutable std::mutex m_lock;
    std::map<OleString, kv::com::ComPtr<IUnknown>> m_objects;
};

}  // namespace kv::components
