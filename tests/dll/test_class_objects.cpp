// Creation through the COM runtime and through the exports of the registered
// file; the module's lock count as DllCanUnloadNow shows it; aggregation; and
// the module leaving the process once nothing holds it.
#include "tests/dll/fixture.h"

namespace client {
namespace {

using Strings = std::vector<std::string>;

class Creation : public EachClass {};

TEST_P(Creation, ByProgIdAndByClassIdentifier) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(cls().progId.c_str(), &clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, cls().clsid));
    ASSERT_EQ(CLSIDFromProgID(cls().versionIndependentProgId.c_str(), &clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, cls().clsid));
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(cls().clsid, &progId), S_OK);
    EXPECT_EQ(narrow(progId), narrow(cls().progId));
    CoTaskMemFree(progId);

    for (const std::wstring& name : {cls().progId, cls().versionIndependentProgId}) {
        SCOPED_TRACE(narrow(name));
        callLog().clear();
        ASSERT_EQ(CLSIDFromProgID(name.c_str(), &clsid), S_OK);
        Ptr<IUnknown> object;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()), S_OK);
        EXPECT_TRUE(loadedModule()) << "served from the registered file";
        EXPECT_EQ(callLog(), Strings{"registry.create"}) << "the registry component is made at construction";

        // One identity; IDispatch is the encoder interface, so late binding
        // reaches its methods.
        auto encoder = object.query<IKvAudioEncoder>(IID_IKvAudioEncoder);
        auto dispatch = object.query<IDispatch>(IID_IDispatch);
        auto classInterface = object.query<IDispatch>(cls().classIid);
        ASSERT_TRUE(encoder && dispatch && classInterface);
        EXPECT_EQ(static_cast<IDispatch*>(encoder.get()), dispatch.get());
        EXPECT_EQ(encoder.identity(), object.get());
        EXPECT_EQ(classInterface.identity(), object.get());
        EXPECT_FALSE(object.query<IKvAudioSink>(IID_IKvAudioSink));

        EXPECT_EQ(encoder->Reserved1(1, 2), E_NOTIMPL);
        EXPECT_EQ(encoder->Reserved2(3, 4), E_NOTIMPL);
    }

    Ptr<IKvAudioEncoder> direct;
    EXPECT_EQ(CoCreateInstance(cls().clsid, nullptr, CLSCTX_ALL, IID_IKvAudioEncoder, direct.putVoid()), S_OK);
    EXPECT_TRUE(direct);
}

TEST_P(Creation, ClassObjectRefusals) {
    EXPECT_EQ(registeredServer(cls()), paths().dll);
    Library library;
    ASSERT_TRUE(library) << "the registered module loads";
    Ptr<IClassFactory> factory;
    ASSERT_EQ(library.getClassObject(cls().clsid, IID_IClassFactory, factory.putVoid()), S_OK);

    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKvAudioEncoder, nullptr), E_POINTER);

    // An outer object with anything but IUnknown: nothing is made.
    auto outer = make<SinkDouble>();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IKvAudioEncoder, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(callLog().empty());
    EXPECT_EQ(outer->refs(), 1) << "the outer object is not kept";

    // An interface the class lacks: the object is made and released again.
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKvAudioSink, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(callLog(), (Strings{"registry.create", std::string("registry.RemoveObject ") + cls().registryName}));

    factory.reset();
    EXPECT_EQ(library.canUnloadNow(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(DllClient, Creation, testing::ValuesIn(kEncoderClasses), className);

class Exports : public ClientTest {};

TEST_F(Exports, UnknownClassesAreNotAvailable) {
    Library library;
    ASSERT_TRUE(library);
    for (const CLSID& clsid : {CLSID_KvAudioRecorder, CLSID_KvObjectRegistry, GUID{}}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(library.getClassObject(clsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(out, nullptr);
    }
}

TEST_F(Exports, CanUnloadNowFollowsObjectsClassObjectsAndLocks) {
    Library library;
    ASSERT_TRUE(library);
    EXPECT_EQ(library.canUnloadNow(), S_OK);
    for (const EncoderClass* c : kEncoderClasses) {
        SCOPED_TRACE(c->name);
        Ptr<IClassFactory> factory;
        ASSERT_EQ(library.getClassObject(c->clsid, IID_IClassFactory, factory.putVoid()), S_OK);
        EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "a class object held outside the module";
        Ptr<IClassFactory> again;
        ASSERT_EQ(library.getClassObject(c->clsid, IID_IUnknown, again.putVoid()), S_OK);
        EXPECT_EQ(again.identity(), factory.identity()) << "one class object per class";
        again.reset();
        EXPECT_EQ(library.canUnloadNow(), S_FALSE);

        Ptr<IKvAudioEncoder> first, second;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKvAudioEncoder, first.putVoid()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IKvAudioEncoder, second.putVoid()), S_OK);
        factory.reset();
        EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "two objects";
        first.reset();
        EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "one object";
        second.reset();
        EXPECT_EQ(library.canUnloadNow(), S_OK);
    }

    // Explicit locks count one by one, whichever class object takes them.
    Ptr<IClassFactory> a, b;
    ASSERT_EQ(library.getClassObject(kG711A.clsid, IID_IClassFactory, a.putVoid()), S_OK);
    ASSERT_EQ(library.getClassObject(kQuorvan.clsid, IID_IClassFactory, b.putVoid()), S_OK);
    EXPECT_EQ(a->LockServer(TRUE), S_OK);
    EXPECT_EQ(b->LockServer(TRUE), S_OK);
    a.reset();
    b.reset();
    Ptr<IClassFactory> c;
    ASSERT_EQ(library.getClassObject(kG7231.clsid, IID_IClassFactory, c.putVoid()), S_OK);
    EXPECT_EQ(c->LockServer(FALSE), S_OK);
    c.reset();
    EXPECT_EQ(library.canUnloadNow(), S_FALSE) << "one explicit lock left";
    ASSERT_EQ(library.getClassObject(kG7231.clsid, IID_IClassFactory, c.putVoid()), S_OK);
    EXPECT_EQ(c->LockServer(FALSE), S_OK);
    c.reset();
    EXPECT_EQ(library.canUnloadNow(), S_OK);
}

// An outer object that hands the encoder's interfaces to the inner unknown it
// holds, and answers IKvAudioSink itself.
class Outer : public SinkDouble {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (inner &&
            (IsEqualGUID(riid, IID_IKvAudioEncoder) || IsEqualGUID(riid, IID_IDispatch) || IsEqualGUID(riid, classIid)))
            return inner->QueryInterface(riid, ppv);
        return SinkDouble::QueryInterface(riid, ppv);
    }
    Ptr<IUnknown> inner;
    IID classIid{};
};

class Aggregation : public EachClass {};

TEST_P(Aggregation, EndToEndThroughCoCreateInstance) {
    auto recorder = runningRecorder();
    auto outer = make<Outer>();
    outer->classIid = cls().classIid;
    IUnknown* const outerUnknown = static_cast<IKvAudioSink*>(outer.get());

    Ptr<IKvAudioEncoder> refused;
    EXPECT_EQ(CoCreateInstance(cls().clsid, outerUnknown, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder, refused.putVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(cls().clsid, outerUnknown, CLSCTX_INPROC_SERVER, IID_IUnknown, outer->inner.putVoid()),
              S_OK);
    ASSERT_TRUE(outer->inner);
    EXPECT_NE(outer->inner.get(), outerUnknown);
    EXPECT_EQ(outer->refs(), 1) << "the inner object does not hold its outer object";

    // The inner unknown is the aggregate's only way to the encoder's own map.
    auto innerEncoder = outer->inner.query<IKvAudioEncoder>(IID_IKvAudioEncoder);
    ASSERT_TRUE(innerEncoder);
    EXPECT_TRUE(outer->inner.query<IDispatch>(cls().classIid));
    EXPECT_FALSE(outer->inner.query<IKvAudioSink>(IID_IKvAudioSink)) << "the inner map has no sink";
    innerEncoder.reset();

    // Through the aggregate: the encoder's interfaces answer for the outer
    // object, identity and reference count included.
    Ptr<IKvAudioEncoder> encoder = outer.query<IKvAudioEncoder>(IID_IKvAudioEncoder);
    ASSERT_TRUE(encoder);
    EXPECT_EQ(encoder.identity(), outerUnknown);
    EXPECT_TRUE(encoder.query<IKvAudioSink>(IID_IKvAudioSink)) << "the outer object's own interface";
    const LONG before = outer->refs();
    encoder->AddRef();
    EXPECT_EQ(outer->refs(), before + 1);
    encoder->Release();
    EXPECT_EQ(encoder->Reserved1(0, 0), E_NOTIMPL);

    auto sink = make<SinkDouble>();
    ASSERT_EQ(encoder->AddSink(sink.get()), S_OK);
    ASSERT_EQ(recorder->targets.size(), 1u);
    const std::vector<std::uint8_t> pcm(960, 0);
    recorder->capture(pcm, pcm.size());
    EXPECT_FALSE(sink->bytes.empty()) << "the aggregated encoder delivers";
    encoder.reset();

    EXPECT_EQ(canUnloadNow(), S_FALSE) << "the aggregate holds the object";
    callLog().clear();
    outer->inner.reset();
    EXPECT_EQ(callLog(),
              (Strings{std::string("registry.RemoveObject ") + cls().registryName, "recorder.RemoveDataTarget"}))
        << "releasing the inner unknown ends the object";
    EXPECT_TRUE(recorder->targets.empty());
    EXPECT_EQ(outer->refs(), 1);
}

INSTANTIATE_TEST_SUITE_P(DllClient, Aggregation, testing::ValuesIn(kEncoderClasses), className);

// The process lets go of the module once nothing holds it: no object, no
// class object, no lock. Wine's apartment unloads a module of threading model
// Apartment on the first CoFreeUnusedLibraries that finds DllCanUnloadNow
// answering S_OK; registered as Both, the same module stays loaded after
// that call, since Wine defers unloading free-threaded servers.
TEST_F(Exports, TheModuleUnloadsWhenNothingHoldsIt) {
    CoFreeUnusedLibraries();
    Ptr<IKvAudioEncoder> encoder = create(kG7231);
    ASSERT_TRUE(encoder);
    ASSERT_TRUE(loadedModule());
    CoFreeUnusedLibraries();
    EXPECT_TRUE(loadedModule()) << "an object is alive";

    Ptr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(kG711U.clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid()),
              S_OK);
    encoder.reset();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(loadedModule()) << "a class object is held";
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(loadedModule()) << "an explicit lock is held";
    ASSERT_EQ(CoGetClassObject(kG711U.clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.putVoid()),
              S_OK);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();

    CoFreeUnusedLibraries();
    EXPECT_FALSE(loadedModule()) << "nothing holds the module";

    // And it comes back as new.
    encoder = create(kG711A);
    EXPECT_TRUE(encoder);
    EXPECT_TRUE(loadedModule());
}

}  // namespace
}  // namespace client
