#include "com/ComPtr.h"
#include "tests/com/test_interfaces.h"

#include <gtest/gtest.h>

using kv::com::ComPtr;

namespace {

// A hand-counted object, so the tests see every AddRef and Release.
class Counted : public IFirst {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IBase) || IsEqualGUID(riid, IID_IFirst)) {
            *ppv = static_cast<IFirst*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    int STDMETHODCALLTYPE Kind() override { return 0; }
    int STDMETHODCALLTYPE First() override { return 1; }
    ULONG refs = 0;
};

TEST(ComPtr, CopyTakesAReferenceMoveDoesNot) {
    Counted obj;
    {
        ComPtr<IFirst> a(&obj);
        EXPECT_EQ(obj.refs, 1u);
        ComPtr<IFirst> b = a;
        EXPECT_EQ(obj.refs, 2u);
        ComPtr<IFirst> c = std::move(b);
        EXPECT_EQ(obj.refs, 2u);
        EXPECT_FALSE(b);
        c = a;  // same object: count unchanged overall
        EXPECT_EQ(obj.refs, 2u);
        c = nullptr;
        EXPECT_EQ(obj.refs, 1u);
    }
    EXPECT_EQ(obj.refs, 0u);
}

TEST(ComPtr, PutReleasesFirstAndDetachHandsOver) {
    Counted one, two;
    ComPtr<IFirst> p(&one);
    IFirst** slot = p.put();
    EXPECT_EQ(one.refs, 0u) << "put() must release what it held";
    EXPECT_EQ(*slot, nullptr);
    *slot = &two;
    two.AddRef();  // as an out parameter would
    EXPECT_EQ(p.get(), &two);
    IFirst* raw = p.detach();
    EXPECT_EQ(raw, &two);
    EXPECT_FALSE(p);
    EXPECT_EQ(two.refs, 1u);
    ComPtr<IFirst> adopted = ComPtr<IFirst>::attach(raw);
    EXPECT_EQ(two.refs, 1u);
    adopted.reset();
    EXPECT_EQ(two.refs, 0u);
}

TEST(ComPtr, QueryGivesAnOwnedPointerOrNull) {
    Counted obj;
    ComPtr<IFirst> p(&obj);
    {
        ComPtr<IBase> base = p.query<IBase>();
        ASSERT_TRUE(base);
        EXPECT_EQ(obj.refs, 2u);
        ComPtr<IUnused> none = p.query<IUnused>();
        EXPECT_FALSE(none);
        ComPtr<ISecond> out;
        EXPECT_EQ(p.queryTo(out), E_NOINTERFACE);
        EXPECT_FALSE(out);
    }
    EXPECT_EQ(obj.refs, 1u);
    ComPtr<IFirst> empty;
    EXPECT_FALSE(empty.query<IBase>());
    ComPtr<IBase> out;
    EXPECT_EQ(empty.queryTo(out), E_POINTER);
}

TEST(Guid, ParsesTheRegistryForm) {
    constexpr GUID g = kv::com::guid("{8F0E0D0C-0B0A-49c9-BC55-3B6D4aFD0D27}");  // letters in either case
    EXPECT_EQ(g.Data1, 0x8F0E0D0Cu);
    EXPECT_EQ(g.Data2, 0x0B0Au);
    EXPECT_EQ(g.Data3, 0x49C9u);
    const unsigned char tail[8] = {0xBC, 0x55, 0x3B, 0x6D, 0x4A, 0xFD, 0x0D, 0x27};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(g.Data4[i], tail[i]) << i;
    EXPECT_TRUE(IsEqualGUID(kv::com::guid("00000000-0000-0000-C000-000000000046"), IID_IUnknown));
}

}  // namespace
