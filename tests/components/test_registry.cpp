// The shared-object registry: its map, and that each apartment meets one
// instance of it through CoCreateInstance.
#include <thread>

#include "components/ObjectRegistry.h"
#include "components/Sinks.h"
#include "tests/components/helpers.h"

using kv::com::ComPtr;
using kvtest::RecordingTarget;
namespace kc = kv::components;

namespace {

class Registry : public kvtest::ComponentsTest {
protected:
    ComPtr<IKvObjectRegistry> create() {
        ComPtr<IKvObjectRegistry> r;
        EXPECT_EQ(CoCreateInstance(kc::CLSID_KvObjectRegistry, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                   IID_IKvObjectRegistry, r.put_void()),
                  S_OK);
        return r;
    }
    // The result is borrowed: the caller takes a reference of its own.
    static ComPtr<IUnknown> lookup(IKvObjectRegistry* r, LPCOLESTR name, HRESULT expected) {
        IUnknown* raw = reinterpret_cast<IUnknown*>(0x1);  // must be overwritten
        EXPECT_EQ(r->LookupObject(name, &raw), expected);
        return ComPtr<IUnknown>(raw);
    }
    static IUnknown* unknown(RecordingTarget* t) { return t->identity(); }
};

TEST_F(Registry, HoldsOneReferencePerEntryAndLendsItOut) {
    auto registry = create();
    bool destroyed = false;
    {
        auto object = kv::com::make<RecordingTarget>(&destroyed);
        ASSERT_EQ(registry->AddObject(KV_W("a"), unknown(object.get())), S_OK);
    }
    EXPECT_FALSE(destroyed) << "the entry keeps the object alive";

    ComPtr<IUnknown> found = lookup(registry.get(), KV_W("a"), S_OK);
    ASSERT_TRUE(found);
    // Lookups lend the entry: many of them leave only the entry's reference.
    for (int i = 0; i < 3; ++i) lookup(registry.get(), KV_W("a"), S_OK);
    found.reset();
    EXPECT_FALSE(destroyed);
    EXPECT_TRUE(lookup(registry.get(), KV_W("a"), S_OK));

    BSTR name = SysAllocString(KV_W("a"));
    EXPECT_EQ(registry->RemoveObject(name), S_OK);
    EXPECT_TRUE(destroyed) << "removing the entry releases its reference";
    EXPECT_EQ(registry->RemoveObject(name), S_FALSE);
    SysFreeString(name);
    EXPECT_FALSE(lookup(registry.get(), KV_W("a"), S_FALSE));
}

TEST_F(Registry, ASecondEntryUnderANameReplacesTheFirst) {
    auto registry = create();
    bool firstGone = false, secondGone = false;
    auto first = kv::com::make<RecordingTarget>(&firstGone);
    auto second = kv::com::make<RecordingTarget>(&secondGone);
    ASSERT_EQ(registry->AddObject(KV_W("x"), unknown(first.get())), S_OK);
    ASSERT_EQ(registry->AddObject(KV_W("x"), unknown(second.get())), S_OK);
    first.reset();
    EXPECT_TRUE(firstGone) << "the replaced entry's reference is released";
    EXPECT_EQ(lookup(registry.get(), KV_W("x"), S_OK).get(), unknown(second.get()));
    second.reset();
    EXPECT_FALSE(secondGone);
    BSTR name = SysAllocString(KV_W("x"));
    EXPECT_EQ(registry->RemoveObject(name), S_OK);
    SysFreeString(name);
    EXPECT_TRUE(secondGone);
}

TEST_F(Registry, NamesAreExactAndSeparate) {
    auto registry = create();
    auto a = kv::com::make<RecordingTarget>();
    auto b = kv::com::make<RecordingTarget>();
    ASSERT_EQ(registry->AddObject(kc::kRecorderName, unknown(a.get())), S_OK);
    ASSERT_EQ(registry->AddObject(KV_W("KvCom.KvAudio.KvAudioEncoder.KVG711A"), unknown(b.get())), S_OK);
    EXPECT_EQ(lookup(registry.get(), kc::kRecorderName, S_OK).get(), unknown(a.get()));
    EXPECT_EQ(lookup(registry.get(), KV_W("KvCom.KvAudio.KvAudioEncoder.KVG711A"), S_OK).get(), unknown(b.get()));
    EXPECT_FALSE(lookup(registry.get(), KV_W("kvcom.kvaudio.kvaudiorecorder"), S_FALSE));
    EXPECT_FALSE(lookup(registry.get(), KV_W("KvCom.KvAudio.KvAudioRecorder "), S_FALSE));
    // Removing one name leaves the other.
    BSTR name = SysAllocString(KV_W("KvCom.KvAudio.KvAudioEncoder.KVG711A"));
    EXPECT_EQ(registry->RemoveObject(name), S_OK);
    SysFreeString(name);
    EXPECT_EQ(lookup(registry.get(), kc::kRecorderName, S_OK).get(), unknown(a.get()));
}

TEST_F(Registry, RefusesMissingArgumentsWithoutChange) {
    auto registry = create();
    auto a = kv::com::make<RecordingTarget>();
    EXPECT_EQ(registry->AddObject(nullptr, unknown(a.get())), E_POINTER);
    EXPECT_EQ(registry->AddObject(KV_W("a"), nullptr), E_POINTER);
    EXPECT_EQ(registry->AddObject(KV_W(""), unknown(a.get())), E_INVALIDARG);
    EXPECT_EQ(registry->LookupObject(KV_W("a"), nullptr), E_POINTER);
    lookup(registry.get(), nullptr, E_POINTER);
    EXPECT_EQ(registry->RemoveObject(nullptr), S_FALSE);
    EXPECT_FALSE(lookup(registry.get(), KV_W("a"), S_FALSE));
}

TEST_F(Registry, EveryCreationInTheApartmentMeetsTheSameRegistry) {
    auto one = create();
    auto two = create();
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one.query<IUnknown>().get(), two.query<IUnknown>().get());

    // What one party enters the other finds, which is how an encoder finds the
    // capture component a tool entered.
    auto recorder = kv::com::make<RecordingTarget>();
    ASSERT_EQ(one->AddObject(kc::kRecorderName, unknown(recorder.get())), S_OK);
    EXPECT_EQ(lookup(two.get(), kc::kRecorderName, S_OK).get(), unknown(recorder.get()));

    // Scripts get the entry's IDispatch with a reference of their own, and
    // Nothing for a name that is not entered.
    auto script = one.query<IKvRegistry>();
    ASSERT_TRUE(script);
    BSTR name = SysAllocString(kc::kRecorderName);
    IDispatch* found = nullptr;
    ASSERT_EQ(script->Lookup(name, &found), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(found), static_cast<IUnknown*>(recorder->identity()));
    if (found) found->Release();
    ASSERT_EQ(script->Remove(name), S_OK);
    found = reinterpret_cast<IDispatch*>(0x1);
    EXPECT_EQ(script->Lookup(name, &found), S_OK);
    EXPECT_EQ(found, nullptr);
    SysFreeString(name);

    ComPtr<IUnknown> inner;
    ComPtr<IUnknown> outer(unknown(recorder.get()));
    EXPECT_EQ(
        CoCreateInstance(kc::CLSID_KvObjectRegistry, outer.get(), CLSCTX_INPROC_SERVER, IID_IUnknown, inner.put_void()),
        CLASS_E_NOAGGREGATION);
}

// Another STA has a registry of its own; threads of the MTA, and threads
// without COM, share the MTA's. Each finds and removes only its apartment's
// entries.
TEST_F(Registry, EachApartmentMeetsARegistryOfItsOwn) {
    auto sta = create();
    auto ours = kv::com::make<RecordingTarget>(), theirs = kv::com::make<RecordingTarget>();
    ASSERT_EQ(sta->AddObject(kc::kRecorderName, unknown(ours.get())), S_OK);
    // What a new thread does with the registry it meets in COM's `model` (-1: no COM).
    const auto onThread = [](int model, auto use) {
        std::thread([&] {
            if (model >= 0) CoInitializeEx(nullptr, static_cast<DWORD>(model));
            ComPtr<IKvObjectRegistry> r;
            EXPECT_EQ(kc::createSharedRegistry(nullptr, IID_IKvObjectRegistry, r.put_void()), S_OK);
            if (r) use(r.get());
            r.reset();
            if (model >= 0) CoUninitialize();
        }).join();
    };
    BSTR name = SysAllocString(kc::kRecorderName);
    for (int model : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
        onThread(model, [&](IKvObjectRegistry* other) {
            EXPECT_FALSE(lookup(other, kc::kRecorderName, S_FALSE)) << model;
            EXPECT_EQ(other->RemoveObject(name), S_FALSE) << model;
            ASSERT_EQ(other->AddObject(kc::kRecorderName, unknown(theirs.get())), S_OK);
            if (model != COINIT_MULTITHREADED) return;
            for (int same : {static_cast<int>(COINIT_MULTITHREADED), -1})
                onThread(same, [&](IKvObjectRegistry* r) { EXPECT_EQ(r, other) << same; });
        });
    }
    SysFreeString(name);
    EXPECT_EQ(lookup(sta.get(), kc::kRecorderName, S_OK).get(), unknown(ours.get()));
}

TEST_F(Registry, LivesAsLongAsItsRegistrationOrItsLastUser) {
    bool destroyed = false;
    ComPtr<IKvObjectRegistry> kept = create();
    {
        auto object = kv::com::make<RecordingTarget>(&destroyed);
        ASSERT_EQ(kept->AddObject(KV_W("a"), unknown(object.get())), S_OK);
    }
    // A nested registration changes nothing; the outer one still holds.
    EXPECT_EQ(kc::RegisterComponents(), S_FALSE);
    kc::RevokeComponents();
    EXPECT_TRUE(lookup(create().get(), KV_W("a"), S_OK));

    // Revoked: new creations fail, the registry held here still works...
    kc::RevokeComponents();
    ComPtr<IKvObjectRegistry> none;
    EXPECT_EQ(CoCreateInstance(kc::CLSID_KvObjectRegistry, nullptr, CLSCTX_INPROC_SERVER, IID_IKvObjectRegistry,
                               none.put_void()),
              REGDB_E_CLASSNOTREG);
    EXPECT_TRUE(lookup(kept.get(), KV_W("a"), S_OK));
    EXPECT_FALSE(destroyed);
    // ...and its entries go with it.
    kept.reset();
    EXPECT_TRUE(destroyed);

    // A new registration starts an empty registry.
    ASSERT_EQ(kc::RegisterComponents(), S_OK);
    EXPECT_FALSE(lookup(create().get(), KV_W("a"), S_FALSE));
}

// Each class answers IDispatch with its dual default interface, described by
// KvLib (which the host never registers), and reports its scripting
// failures through IErrorInfo.
TEST_F(Registry, ComponentsAnswerScriptsFromKvLibWithErrorInfo) {
    ComPtr<IKvRecorder> recorder;
    ASSERT_EQ(CoCreateInstance(kc::CLSID_KvAudioRecorder, nullptr, CLSCTX_INPROC_SERVER, IID_IKvRecorder,
                               recorder.put_void()),
              S_OK);
    const struct {
        ComPtr<IUnknown> object;
        const IID* dual;
    } classes[] = {
        {create().query<IUnknown>(), &IID_IKvRegistry},
        {recorder.query<IUnknown>(), &IID_IKvRecorder},
        {kv::com::make<kc::CKvFileSink>().query<IUnknown>(), &IID_IKvFileSink},
        {kv::com::make<kc::CKvMemorySink>().query<IUnknown>(), &IID_IKvMemorySink},
    };
    for (const auto& c : classes) {
        ASSERT_TRUE(c.object);
        ComPtr<IUnknown> dual;
        ASSERT_EQ(c.object->QueryInterface(*c.dual, dual.put_void()), S_OK);
        EXPECT_EQ(c.object.query<IDispatch>().get(), static_cast<void*>(dual.get())) << "IDispatch is the dual one";
        UINT count = 7;
        EXPECT_EQ(dual.query<IDispatch>()->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0x1);
        EXPECT_EQ(dual.query<IDispatch>()->GetTypeInfo(0, 0, &info), TYPE_E_LIBNOTREGISTERED);
        EXPECT_EQ(info, nullptr);
        auto support = c.object.query<ISupportErrorInfo>();
        ASSERT_TRUE(support);
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.dual), S_OK);
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IKvAudioSink), S_FALSE);
    }

    // A failure leaves its description, source and interface on the thread.
    const kc::OleString path = KV_W("no such folder/missing.wav");
    BSTR bpath = SysAllocString(path.c_str());
    EXPECT_EQ(recorder->CaptureFile(bpath, 480), kc::E_KV_NO_TARGET);
    SysFreeString(bpath);
    ComPtr<IErrorInfo> error;
    ASSERT_EQ(GetErrorInfo(0, error.put()), S_OK);
    BSTR text = nullptr;
    ASSERT_EQ(error->GetDescription(&text), S_OK);
    EXPECT_NE(kc::OleString(text).find(path), kc::OleString::npos);
    SysFreeString(text);
    ASSERT_EQ(error->GetSource(&text), S_OK);
    EXPECT_EQ(kc::OleString(text), kc::OleString(kc::kRecorderProgId));
    SysFreeString(text);
    GUID iid{};
    EXPECT_EQ(error->GetGUID(&iid), S_OK);
    EXPECT_TRUE(IsEqualGUID(iid, IID_IKvRecorder));
}

}  // namespace
