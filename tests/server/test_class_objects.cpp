// The server's exports and class objects, linked in: lifetimes, the module
// lock, creation alone and inside an aggregate.
#include "com/ServerExports.h"
#include "com/Module.h"
#include "tests/encoders/doubles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using kv::com::ComPtr;
using kvtest::callLog;

namespace {

class ClassObjects : public ::testing::Test, public kvtest::ComponentsFixture {
protected:
    void SetUp() override { ASSERT_EQ(DllCanUnloadNow(), S_OK) << "an earlier test left the module locked"; }
    void TearDown() override { EXPECT_EQ(DllCanUnloadNow(), S_OK) << "this test left the module locked"; }

    static ComPtr<IClassFactory> classObject(REFCLSID clsid) {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, factory.put_void()), S_OK);
        return factory;
    }
};

const CLSID* const kClasses[] = {&CLSID_KV_AudioG711A, &CLSID_KV_AudioG711U, &CLSID_KV_AudioG7231,
                                 &CLSID_KV_AudioQuorvan};

TEST_F(ClassObjects, UnknownClassesAndMissingOutPointers) {
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(DllGetClassObject(kv::CLSID_KvAudioRecorder, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(DllGetClassObject(CLSID_KV_AudioG711A, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(DllGetClassObject(CLSID_KV_AudioG711A, IID_IKvAudioEncoder, &p), E_NOINTERFACE);
}

TEST_F(ClassObjects, HeldClassObjectsAndObjectsKeepTheServerLoaded) {
    for (const CLSID* clsid : kClasses) {
        auto factory = classObject(*clsid);
        ASSERT_TRUE(factory);
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
        EXPECT_EQ(classObject(*clsid).get(), factory.get()) << "the class object is cached";

        ComPtr<IKvAudioEncoder> encoder;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKvAudioEncoder, encoder.put_void()), S_OK);
        factory.reset();
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a live object keeps the server";
        encoder.reset();
        EXPECT_EQ(DllCanUnloadNow(), S_OK);
    }
}

TEST_F(ClassObjects, LockServerCountsExplicitLocks) {
    auto factory = classObject(CLSID_KV_AudioQuorvan);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    classObject(CLSID_KV_AudioQuorvan)->LockServer(FALSE);
}

TEST_F(ClassObjects, CreateInstanceRefusals) {
    auto factory = classObject(CLSID_KV_AudioG711U);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKvAudioEncoder, nullptr), E_POINTER);

    // An outer object with anything but IUnknown creates nothing.
    ComPtr<kvtest::RecordingSink> outer = kv::com::make<kvtest::RecordingSink>();
    void* p = reinterpret_cast<void*>(0x1);
    const LONG before = kv::com::module().lockCount();
    EXPECT_EQ(factory->CreateInstance(static_cast<IKvAudioSink*>(outer.get()), IID_IKvAudioEncoder, &p),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(kv::com::module().lockCount(), before);

    // An interface the class does not offer: the object is made and ended again.
    callLog().clear();
    p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKvAudioSink, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(callLog(), (std::vector<std::string>{"registry.RemoveObject KvCom.KvAudio.KvAudioEncoder.KVG711U"}))
        << "its final release ran";
    EXPECT_EQ(kv::com::module().lockCount(), before);
}

// A minimal outer object that aggregates an encoder.
class Outer : public kv::com::implements<Outer, kvtest::NoTypeInfo<IKvAudioSink>> {
public:
    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE*, LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IKvAudioEncoder) || IsEqualGUID(riid, IID_IKV_AudioG711A) ||
            IsEqualGUID(riid, IID_IDispatch))
            return inner->QueryInterface(riid, ppv);
        return internalQueryInterface(riid, ppv);
    }
    ComPtr<IUnknown> inner;
};

TEST_F(ClassObjects, AggregationEndToEnd) {
    auto outer = kv::com::make<Outer>();
    IUnknown* outerUnknown = outer->identity();
    auto factory = classObject(CLSID_KV_AudioG711A);
    ASSERT_EQ(factory->CreateInstance(outerUnknown, IID_IUnknown, outer->inner.put_void()), S_OK);
    factory.reset();

    // Through the outer object the encoder's interfaces are reached, and they
    // answer for the aggregate: the same identity, the outer's interfaces.
    auto encoder = ComPtr<IUnknown>(outerUnknown).query<IKvAudioEncoder>();
    ASSERT_TRUE(encoder);
    EXPECT_EQ(encoder.query<IUnknown>().get(), outerUnknown);
    EXPECT_TRUE(encoder.query<IKvAudioSink>()) << "the outer object's own interface";
    EXPECT_EQ(encoder->Reserved1(0, 0), E_NOTIMPL);

    auto sink = kv::com::make<kvtest::RecordingSink>();
    ASSERT_EQ(encoder->AddSink(static_cast<IKvAudioSink*>(sink.get())), S_OK);
    BYTE pcm[320] = {};
    encoder->OnAudioData(pcm, 320);
    EXPECT_EQ(sink->blocks, (std::vector<LONG>{160}));

    encoder.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    callLog().clear();
    outer->inner.reset();  // the outer object lets go of the inner unknown
    EXPECT_EQ(callLog().front(), "registry.RemoveObject KvCom.KvAudio.KvAudioEncoder.KVG711A");
}

TEST_F(ClassObjects, AggregatedG7231RunsItsSetUpStep) {
    auto outer = kv::com::make<Outer>();
    auto factory = classObject(CLSID_KV_AudioG7231);
    ComPtr<IUnknown> inner;
    ASSERT_EQ(factory->CreateInstance(outer->identity(), IID_IUnknown, inner.put_void()), S_OK);
    auto encoder = inner.query<IKvAudioEncoder>();
    ASSERT_TRUE(encoder);
    auto sink = kv::com::make<kvtest::RecordingSink>();
    ASSERT_EQ(encoder->AddSink(static_cast<IKvAudioSink*>(sink.get())), S_OK);
    std::vector<BYTE> silence(480, 0);
    encoder->OnAudioData(silence.data(), 480);
    // The first frame of a fresh stream: the coder state was set up.
    std::ifstream f(std::string(KV_TEST_DATA_DIR) + "/g7231/silence.g7231", std::ios::binary);
    std::vector<BYTE> expected(24);
    f.read(reinterpret_cast<char*>(expected.data()), 24);
    EXPECT_EQ(sink->bytes, expected);
}

}  // namespace
