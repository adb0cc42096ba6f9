#pragma once

// The object side of our COM toolkit: a class lists the interfaces it
// implements, and this template supplies IUnknown from that list.
//
//   class CThing : public kv::com::implements<CThing, IFirst, ISecond,
//                                             kv::com::alias<IDispatch, ISecond>> { ... };
//
// The first interface is the object's identity (its IUnknown). alias<Asked, Via>
// answers a request for Asked with the Via base, for an interface such as
// IDispatch that several bases derive from. interlocked_count makes the
// reference count safe across threads; objects of an apartment do without.
//
// Counting follows COM: a new object has count 0, the first QueryInterface or
// make<>() gives it 1, and the last Release runs the class's finalRelease()
// (when it has one) and deletes the object. Inside an aggregate (see
// Aggregated<>) the three IUnknown methods forward to the outer object.
//
// A class that must not vanish in the middle of its own work (a call out of
// it may drop the last reference) may define
//   void takeLastReference(kv::com::LastReference<Derived> self);
// The last Release then hands it the object as an owner: the class lets
// `self` go at once, or keeps it until its work is done. Letting it go runs
// finalRelease() and frees the object (or the aggregate it lives in).

#include "com/ComPtr.h"

#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace kv::com {

template <class Asked, class Via>
struct alias {};
struct interlocked_count {};

template <class Derived>
class Aggregated;

// Ends an object whose last reference went: its final release step, then
// it is deleted, or the aggregate it lives in.
template <class Derived>
struct EndObject {
    Aggregated<Derived>* aggregate = nullptr;
    void operator()(Derived* object) const;
};
template <class Derived>
using LastReference = std::unique_ptr<Derived, EndObject<Derived>>;

namespace detail {

template <class Entry>
struct EntryTraits {
    using Base = Entry;
    static constexpr bool isInterface = true;
};
// Markers and aliases contribute no base; each gets a distinct empty one.
template <class Entry>
struct Empty {};
template <class Asked, class Via>
struct EntryTraits<alias<Asked, Via>> {
    using Base = Empty<alias<Asked, Via>>;
    static constexpr bool isInterface = false;
};
template <>
struct EntryTraits<interlocked_count> {
    using Base = Empty<interlocked_count>;
    static constexpr bool isInterface = false;
};

template <class First, class... Rest>
struct FirstInterface {
    using type = std::conditional_t<EntryTraits<First>::isInterface, First, typename FirstInterface<Rest...>::type>;
};
template <class Last>
struct FirstInterface<Last> {
    using type = Last;
};

// An entry is an interface, or an implementation of one that names it as
// its `Interface` (such as DispatchImpl<>).
template <class Entry>
struct InterfaceOf {
    using type = Entry;
};
template <class Entry>
    requires requires { typename Entry::Interface; }
struct InterfaceOf<Entry> {
    using type = typename Entry::Interface;
};

template <class Self, class Entry>
struct Matcher {
    static void* find(Self* self, REFIID riid) {
        using I = typename InterfaceOf<Entry>::type;
        if (IsEqualGUID(riid, iidOf<I>())) return static_cast<I*>(static_cast<Entry*>(self));
        return nullptr;
    }
};
template <class Self, class Asked, class Via>
struct Matcher<Self, alias<Asked, Via>> {
    static void* find(Self* self, REFIID riid) {
        if (IsEqualGUID(riid, iidOf<Asked>())) return static_cast<Asked*>(static_cast<Via*>(self));
        return nullptr;
    }
};
template <class Self>
struct Matcher<Self, interlocked_count> {
    static void* find(Self*, REFIID) { return nullptr; }
};

}  // namespace detail

template <class Derived, class... Entries>
class implements : public detail::EntryTraits<Entries>::Base... {
    using Identity = typename detail::FirstInterface<Entries...>::type;
    static constexpr bool kInterlocked = (std::is_same_v<Entries, interlocked_count> || ...);

public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (m_outer) return m_outer->QueryInterface(riid, ppv);
        return internalQueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        if (m_outer) return m_outer->AddRef();
        return internalAddRef();
    }
    ULONG STDMETHODCALLTYPE Release() override {
        if (m_outer) return m_outer->Release();
        const ULONG count = internalRelease();
        if (count == 0) lastReferenceGone(LastReference<Derived>(static_cast<Derived*>(this)));
        return count;
    }

    // The object's own map, whatever it is part of.
    HRESULT internalQueryInterface(REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        void* found = nullptr;
        if (IsEqualGUID(riid, IID_IUnknown)) {
            found = identity();
        } else {
            ((found = found ? found : detail::Matcher<implements, Entries>::find(this, riid)), ...);
        }
        if (!found) return E_NOINTERFACE;
        // Through the interface, so that inside an aggregate the outer object counts.
        static_cast<IUnknown*>(static_cast<Identity*>(identity()))->AddRef();
        *ppv = found;
        return S_OK;
    }
    ULONG internalAddRef() {
        if constexpr (kInterlocked)
            return static_cast<ULONG>(InterlockedIncrement(&m_count));
        else
            return static_cast<ULONG>(++m_count);
    }
    ULONG internalRelease() {
        if constexpr (kInterlocked)
            return static_cast<ULONG>(InterlockedDecrement(&m_count));
        else
            return static_cast<ULONG>(--m_count);
    }

    // The object as IUnknown: its first interface.
    IUnknown* identity() { return static_cast<Identity*>(this); }

    // Runs the class's final release step, then deletes the object.
    static void destroy(Derived* object) { EndObject<Derived>{}(object); }

    // Hands the class the last reference when it takes it; else `self` ends the object here.
    static void lastReferenceGone(LastReference<Derived> self) {
        if constexpr (requires { self->takeLastReference(std::move(self)); }) {
            Derived& object = *self;
            object.takeLastReference(std::move(self));
        }
    }

protected:
    implements() = default;
    virtual ~implements() = default;

private:
    template <class D>
    friend class Aggregated;

    LONG m_count = 0;
    IUnknown* m_outer = nullptr;  // set only when the object is part of an aggregate
};

// Creates an object outside any aggregate, holding the first reference.
template <class Derived, class... Args>
ComPtr<Derived> make(Args&&... args) {
    Derived* object = new (std::nothrow) Derived(std::forward<Args>(args)...);
    if (object) object->internalAddRef();
    return ComPtr<Derived>::attach(object);
}

// The one place aggregation lives: this inner unknown owns the object, answers
// IUnknown with itself and everything else from the object's map, while the
// object's own IUnknown methods forward to the outer object.
template <class Derived>
class Aggregated final : public IUnknown {
public:
    template <class... Args>
    explicit Aggregated(IUnknown* outer, Args&&... args) : m_object(std::forward<Args>(args)...) {
        m_object.m_outer = outer;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_object.internalQueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_count); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG count = static_cast<ULONG>(--m_count);
        if (count == 0) Derived::lastReferenceGone(LastReference<Derived>(&m_object, EndObject<Derived>{this}));
        return count;
    }

    Derived& object() { return m_object; }

private:
    LONG m_count = 0;
    Derived m_object;
};

template <class Derived>
void EndObject<Derived>::operator()(Derived* object) const {
    if constexpr (requires { object->finalRelease(); }) object->finalRelease();
    if (aggregate)
        delete aggregate;
    else
        delete object;
}

}  // namespace kv::com
