#include "com/Object.h"
#include "tests/com/test_interfaces.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using kv::com::alias;
using kv::com::ComPtr;

namespace {

std::vector<std::string> g_events;

class CThing : public kv::com::implements<CThing, IFirst, ISecond, alias<IBase, ISecond>> {
public:
    ~CThing() override { g_events.push_back("destroyed"); }
    void finalRelease() { g_events.push_back("finalRelease"); }

    int STDMETHODCALLTYPE Kind() override { return 7; }
    int STDMETHODCALLTYPE First() override { return 1; }
    int STDMETHODCALLTYPE Second() override { return 2; }
};

class CPlain : public kv::com::implements<CPlain, IFirst> {
public:
    int STDMETHODCALLTYPE Kind() override { return 0; }
    int STDMETHODCALLTYPE First() override { return 1; }
};

template <class I>
I* queryRaw(IUnknown* unk) {
    void* p = nullptr;
    EXPECT_EQ(unk->QueryInterface(kv::com::iidOf<I>(), &p), S_OK);
    return static_cast<I*>(p);
}

TEST(Object, AnswersEveryListedInterfaceWithOneIdentity) {
    g_events.clear();
    {
        ComPtr<CThing> thing = kv::com::make<CThing>();
        ASSERT_TRUE(thing);
        auto first = thing.query<IFirst>();
        auto second = thing.query<ISecond>();
        ASSERT_TRUE(first && second);
        EXPECT_EQ(first->First(), 1);
        EXPECT_EQ(second->Second(), 2);

        // IUnknown is the same pointer whichever interface it is asked through.
        auto unk1 = first.query<IUnknown>();
        auto unk2 = second.query<IUnknown>();
        EXPECT_EQ(unk1.get(), unk2.get());
        EXPECT_EQ(static_cast<void*>(unk1.get()), static_cast<void*>(static_cast<IFirst*>(thing.get())));

        // The alias answers with the ISecond base, not the IFirst one.
        auto base = first.query<IBase>();
        ASSERT_TRUE(base);
        EXPECT_EQ(static_cast<void*>(base.get()), static_cast<void*>(static_cast<ISecond*>(thing.get())));
    }
    EXPECT_EQ(g_events, (std::vector<std::string>{"finalRelease", "destroyed"}));
}

TEST(Object, RefusesWhatIsNotListed) {
    ComPtr<CThing> thing = kv::com::make<CThing>();
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(thing->QueryInterface(IID_IUnused, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(thing->QueryInterface(IID_IUnused, nullptr), E_POINTER);
    ComPtr<CPlain> plain = kv::com::make<CPlain>();
    EXPECT_FALSE(plain.query<IBase>()) << "an unlisted base is not answered";
    EXPECT_FALSE(plain.query<ISecond>());
}

TEST(Object, CountsReferencesAndDestroysAtZero) {
    g_events.clear();
    CThing* raw = new CThing;
    IFirst* first = queryRaw<IFirst>(static_cast<IFirst*>(raw));  // a new object starts at 0
    EXPECT_EQ(first->AddRef(), 2u);
    EXPECT_EQ(first->Release(), 1u);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(g_events, (std::vector<std::string>{"finalRelease", "destroyed"}));
}

// An outer object that owns an aggregated CThing, as a COM aggregate would.
class COuter : public IUnused {
public:
    COuter() {
        auto* inner = new kv::com::Aggregated<CThing>(this);
        m_inner = ComPtr<IUnknown>(inner);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        ++queries;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IUnused)) {
            *ppv = static_cast<IUnused*>(this);
            AddRef();
            return S_OK;
        }
        return m_inner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }

    ULONG count = 1;
    int queries = 0;
    ComPtr<IUnknown> m_inner;
};

TEST(Aggregation, InnerUnknownOwnsTheObjectAndInterfacesDelegate) {
    g_events.clear();
    {
        COuter outer;
        // The inner unknown is its own identity, not the outer's.
        auto innerUnknown = outer.m_inner.query<IUnknown>();
        EXPECT_EQ(innerUnknown.get(), outer.m_inner.get());

        // Interfaces of the contained object count on the outer object...
        IFirst* first = nullptr;
        ASSERT_EQ(outer.m_inner->QueryInterface(IID_IFirst, reinterpret_cast<void**>(&first)), S_OK);
        EXPECT_EQ(outer.count, 2u);
        EXPECT_EQ(first->First(), 1);
        first->AddRef();
        EXPECT_EQ(outer.count, 3u);
        first->Release();
        // ...and ask the outer object for other interfaces.
        IUnknown* viaFirst = nullptr;
        ASSERT_EQ(first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaFirst)), S_OK);
        EXPECT_EQ(viaFirst, static_cast<IUnknown*>(static_cast<IUnused*>(&outer)));
        EXPECT_EQ(outer.queries, 1);
        viaFirst->Release();
        first->Release();
        EXPECT_EQ(outer.count, 1u);
        EXPECT_TRUE(g_events.empty());
    }
    // Releasing the inner unknown ends the contained object.
    EXPECT_EQ(g_events, (std::vector<std::string>{"finalRelease", "destroyed"}));
}

class CShared : public kv::com::implements<CShared, IFirst, kv::com::interlocked_count> {
public:
    int STDMETHODCALLTYPE Kind() override { return 0; }
    int STDMETHODCALLTYPE First() override { return 1; }
};

TEST(Object, InterlockedCountSurvivesThreads) {
    ComPtr<CShared> shared = kv::com::make<CShared>();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                shared->AddRef();
                shared->Release();
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(shared->AddRef(), 2u);
    EXPECT_EQ(shared->Release(), 1u);
}

}  // namespace
