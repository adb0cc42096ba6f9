// The encoder object core, told on the A-law class: sinks, the connection to
// the capture component, delivery and release.
#include "encoders/KV_AudioG711.h"
#include "tests/encoders/doubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

using kv::com::ComPtr;
using kvtest::callLog;
using kvtest::RecordingSink;

namespace {

class EncoderCore : public ::testing::Test, public kvtest::ComponentsFixture {
protected:
    ComPtr<IKvAudioEncoder> create() {
        ComPtr<IKvAudioEncoder> e;
        EXPECT_EQ(kv::com::createInstance<kv::encoders::CKV_AudioG711A>(nullptr, IID_IKvAudioEncoder, e.put_void()),
                  S_OK);
        return e;
    }
    static HRESULT add(IKvAudioEncoder* e, RecordingSink* s) { return e->AddSink(static_cast<IKvAudioSink*>(s)); }
    static HRESULT remove(IKvAudioEncoder* e, RecordingSink* s) { return e->RemoveSink(static_cast<IKvAudioSink*>(s)); }
    static void push(IKvAudioEncoder* e, std::vector<BYTE> bytes) {
        e->OnAudioData(bytes.empty() ? nullptr : bytes.data(), static_cast<LONG>(bytes.size()));
    }
};

const std::vector<std::string> kConnectToNewRecorder1 = {
    "registry.LookupObject KvCom.KvAudio.KvAudioRecorder",
    "new recorder1",
    "recorder1.SetProperty SamplesPerSec=16000",
    "recorder1.SetProperty BitsPerSample=16",
    "recorder1.AddDataTarget",
};

TEST_F(EncoderCore, InterfaceMapAndIdentity) {
    auto e = create();
    auto cls = e.query<IKV_AudioG711A>();
    auto dispatch = e.query<IDispatch>();
    auto unknown = e.query<IUnknown>();
    ASSERT_TRUE(cls && dispatch && unknown);
    EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(e.get()))
        << "IDispatch answers as IKvAudioEncoder";
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(cls.get())) << "IUnknown is the class interface";
    EXPECT_FALSE(e.query<IKV_AudioG711U>());
    EXPECT_FALSE(e.query<IKvAudioSink>());
}

TEST_F(EncoderCore, ReservedMethodsAreNotImplementedAndChangeNothing) {
    auto e = create();
    EXPECT_EQ(e->Reserved1(1, 2), E_NOTIMPL);
    EXPECT_EQ(e->Reserved2(3, 4), E_NOTIMPL);
    EXPECT_TRUE(callLog().empty());
}

TEST_F(EncoderCore, AddSinkConnectsEveryTimeAndKeepsOneEntry) {
    auto e = create();
    auto sink = kv::com::make<RecordingSink>();
    EXPECT_EQ(add(e.get(), sink.get()), S_OK);
    EXPECT_EQ(callLog(), kConnectToNewRecorder1);

    // The registry has no running recorder: the held one is let go and a new one made.
    callLog().clear();
    EXPECT_EQ(add(e.get(), sink.get()), S_FALSE);
    EXPECT_EQ(callLog(), (std::vector<std::string>{
                             "registry.LookupObject KvCom.KvAudio.KvAudioRecorder",
                             "recorder1.RemoveDataTarget",
                             "recorder1.destroyed",
                             "new recorder2",
                             "recorder2.SetProperty SamplesPerSec=16000",
                             "recorder2.SetProperty BitsPerSample=16",
                             "recorder2.AddDataTarget",
                         }));
    push(e.get(), std::vector<BYTE>(320, 0));
    EXPECT_EQ(sink->blocks, (std::vector<LONG>{160})) << "one entry, one delivery";
}

// A recorder keeps raw pointers to its targets: an encoder that moves on
// takes itself off the recorder it leaves, also when the new entry is no
// recorder at all, or it would be called after its end.
TEST_F(EncoderCore, ARecorderIsLeftOnlyAfterTheEncoderTookItselfOff) {
    auto first = kv::com::make<kvtest::FakeRecorder>("first");
    registry->running = first.query<IUnknown>();
    auto e = create();
    auto sink = kv::com::make<RecordingSink>();
    ASSERT_EQ(add(e.get(), sink.get()), S_OK);
    // The data target registered is the encoder's default interface.
    EXPECT_EQ(first->lastTarget, static_cast<IUnknown*>(e.query<IKV_AudioG711A>().get()));

    auto second = kv::com::make<kvtest::FakeRecorder>("second");
    const struct {
        ComPtr<IUnknown> entry;
        HRESULT added;
        std::vector<std::string> calls;
    } moves[] = {
        {second.query<IUnknown>(),
         S_FALSE,
         {"registry.LookupObject KvCom.KvAudio.KvAudioRecorder", "first.RemoveDataTarget",
          "second.SetProperty SamplesPerSec=16000", "second.SetProperty BitsPerSample=16", "second.AddDataTarget"}},
        {sink.query<IUnknown>(),
         E_NOINTERFACE,
         {"registry.LookupObject KvCom.KvAudio.KvAudioRecorder", "second.RemoveDataTarget"}},
    };
    for (const auto& m : moves) {
        registry->running = m.entry;
        callLog().clear();
        EXPECT_EQ(add(e.get(), sink.get()), m.added);
        EXPECT_EQ(callLog(), m.calls);
        if (FAILED(m.added)) {
            EXPECT_NE(kvtest::lastError().find("no capture component"), std::string::npos);
        }
    }
    callLog().clear();
    e.reset();
    EXPECT_EQ(callLog(), (std::vector<std::string>{"registry.RemoveObject KvCom.KvAudio.KvAudioEncoder.KVG711A"}))
        << "nothing more asked of a recorder it left";
}

TEST_F(EncoderCore, RemovingSinks) {
    auto first = kv::com::make<kvtest::FakeRecorder>("rec");
    registry->running = first.query<IUnknown>();
    auto e = create();
    auto a = kv::com::make<RecordingSink>("a");
    auto b = kv::com::make<RecordingSink>("b");
    auto stranger = kv::com::make<RecordingSink>("stranger");
    ASSERT_EQ(add(e.get(), a.get()), S_OK);
    ASSERT_EQ(add(e.get(), b.get()), S_OK);
    callLog().clear();

    EXPECT_EQ(remove(e.get(), stranger.get()), S_FALSE);
    EXPECT_EQ(e->RemoveSink(nullptr), S_FALSE);
    EXPECT_TRUE(callLog().empty()) << "nothing asked of the recorder";

    EXPECT_EQ(remove(e.get(), a.get()), S_OK);
    EXPECT_TRUE(callLog().empty()) << "a sink remains";
    EXPECT_EQ(remove(e.get(), b.get()), S_OK);
    EXPECT_EQ(callLog(), (std::vector<std::string>{"rec.RemoveDataTarget"}));
    EXPECT_EQ(remove(e.get(), b.get()), S_FALSE);

    // The recorder stays held: the next AddSink finds it running and keeps it.
    callLog().clear();
    ASSERT_EQ(add(e.get(), a.get()), S_OK);
    EXPECT_EQ(callLog().back(), "rec.AddDataTarget");
    EXPECT_EQ(std::count(callLog().begin(), callLog().end(), "rec.destroyed"), 0);
}

// Each refusal leaves a description for the client, through ISupportErrorInfo.
TEST_F(EncoderCore, UnusableSinksAreRefusedAndNeverCalled) {
    auto e = create();
    auto recorder = kv::com::make<kvtest::FakeRecorder>();
    EXPECT_EQ(e->AddSink(nullptr), E_POINTER);
    EXPECT_NE(kvtest::lastError().find("null"), std::string::npos);
    EXPECT_EQ(e->AddSink(static_cast<IKvAudioRecorder*>(recorder.get())), E_NOINTERFACE);
    EXPECT_NE(kvtest::lastError().find("not a sink"), std::string::npos);
    EXPECT_EQ(e.query<ISupportErrorInfo>()->InterfaceSupportsErrorInfo(IID_IKvAudioEncoder), S_OK);
    push(e.get(), std::vector<BYTE>(640, 1));  // would crash on a null entry
    auto sink = kv::com::make<RecordingSink>();
    EXPECT_EQ(add(e.get(), sink.get()), S_OK) << "the refused arguments left no entry behind";
}

TEST_F(EncoderCore, NoCaptureComponentMeansNoSink) {
    recorders->failure = E_OUTOFMEMORY;
    auto e = create();
    auto sink = kv::com::make<RecordingSink>();
    EXPECT_EQ(add(e.get(), sink.get()), E_OUTOFMEMORY);
    EXPECT_NE(kvtest::lastError().find("KvAudioComponents.Recorder cannot be created (0x8007000E"), std::string::npos);
    push(e.get(), std::vector<BYTE>(320, 0));
    EXPECT_TRUE(sink->blocks.empty()) << "the refused sink was not entered";

    // Once a capture component can be had, the same sink is accepted.
    recorders->failure = S_OK;
    EXPECT_EQ(add(e.get(), sink.get()), S_OK);
}

TEST_F(EncoderCore, SinksAreCalledInPointerOrder) {
    auto e = create();
    auto x = kv::com::make<RecordingSink>("x");
    auto y = kv::com::make<RecordingSink>("y");
    std::vector<std::string> order;
    x->onData = [&](RecordingSink& s) { order.push_back(s.name()); };
    y->onData = x->onData;
    RecordingSink* high = std::less<RecordingSink*>()(x.get(), y.get()) ? y.get() : x.get();
    RecordingSink* low = high == x.get() ? y.get() : x.get();
    ASSERT_EQ(add(e.get(), high), S_OK);  // registered high first
    ASSERT_EQ(add(e.get(), low), S_OK);
    push(e.get(), std::vector<BYTE>(320, 0));
    EXPECT_EQ(order, (std::vector<std::string>{low->name(), high->name()}));
}

TEST_F(EncoderCore, EveryCallDeliversToEverySinkEvenWhenEmpty) {
    auto e = create();
    auto sink = kv::com::make<RecordingSink>();
    ASSERT_EQ(add(e.get(), sink.get()), S_OK);
    push(e.get(), {});
    push(e.get(), std::vector<BYTE>(100, 0));
    EXPECT_EQ(e->OnAudioData(nullptr, 50), S_OK);  // no data
    BYTE some[4] = {};
    EXPECT_EQ(e->OnAudioData(some, -4), S_OK);  // no data
    push(e.get(), std::vector<BYTE>(100, 0));
    push(e.get(), std::vector<BYTE>(100, 0));
    push(e.get(), std::vector<BYTE>(100, 0));  // 300 staged + 100 = one block, 80 left
    push(e.get(), std::vector<BYTE>(240, 0));  // 80 + 240 = one block
    EXPECT_EQ(sink->blocks, (std::vector<LONG>{0, 0, 0, 0, 0, 0, 160, 160}));
}

TEST_F(EncoderCore, DataWithoutSinksStillAdvancesTheStaging) {
    auto e = create();
    auto sink = kv::com::make<RecordingSink>();
    ASSERT_EQ(add(e.get(), sink.get()), S_OK);
    ASSERT_EQ(remove(e.get(), sink.get()), S_OK);  // idle again, converter still open
    push(e.get(), std::vector<BYTE>(300, 0));
    ASSERT_EQ(add(e.get(), sink.get()), S_OK);
    push(e.get(), std::vector<BYTE>(20, 0));
    EXPECT_EQ(sink->blocks, (std::vector<LONG>{160}));
}

TEST_F(EncoderCore, DataBeforeTheFirstConnectionIsNotTaken) {
    // The converter learns the capture format only when a sink connects.
    auto e = create();
    push(e.get(), std::vector<BYTE>(300, 0));
    auto sink = kv::com::make<RecordingSink>();
    ASSERT_EQ(add(e.get(), sink.get()), S_OK);
    push(e.get(), std::vector<BYTE>(20, 0));
    EXPECT_EQ(sink->blocks, (std::vector<LONG>{0}));
}

TEST_F(EncoderCore, FinalReleaseOrder) {
    auto e = create();
    auto sink = kv::com::make<RecordingSink>("s");
    ASSERT_EQ(add(e.get(), sink.get()), S_OK);
    auto raw = sink.get();
    sink.reset();  // the encoder holds the last reference now
    (void)raw;
    callLog().clear();
    e.reset();
    EXPECT_EQ(callLog(), (std::vector<std::string>{
                             "registry.RemoveObject KvCom.KvAudio.KvAudioEncoder.KVG711A",
                             "recorder1.RemoveDataTarget",
                             "recorder1.destroyed",
                             "s.destroyed",
                         }));
}

// Sinks may change the sink set or drop the encoder while being called.
// The registry may or may not add a reference to what LookupObject gives;
// either way the pointer is not the encoder's to release. It takes its own
// reference once, by the query that makes the object its recorder.
TEST_F(EncoderCore, TheRunningRecorderIsBorrowedFromTheRegistry) {
    for (const bool addsReference : {false, true}) {
        registry->addsReference = addsReference;
        auto recorder = kv::com::make<kvtest::FakeRecorder>("running");
        registry->running = recorder.query<IUnknown>();
        const ULONG before = kvtest::refs(recorder.get());
        const ULONG handedOut = addsReference ? 1000 : 0;
        auto e = create();
        auto sink = kv::com::make<RecordingSink>();
        for (int round = 0; round < 1000; ++round) {
            ASSERT_EQ(add(e.get(), sink.get()), S_OK) << round;
            ASSERT_EQ(remove(e.get(), sink.get()), S_OK) << round;
        }
        EXPECT_EQ(kvtest::refs(recorder.get()), before + handedOut + 1) << "the encoder holds one of its own";
        e.reset();
        EXPECT_EQ(kvtest::refs(recorder.get()), before + handedOut) << "addsReference " << addsReference;
        for (ULONG i = 0; i < handedOut; ++i) recorder->Release();  // the references the registry gave away
        registry->running.reset();
        callLog().clear();
    }
}

TEST_F(EncoderCore, SinksMayChangeTheSetOrReleaseTheEncoderDuringDelivery) {
    auto e = create();
    auto quitter = kv::com::make<RecordingSink>("quitter");
    auto adder = kv::com::make<RecordingSink>("adder");
    auto late = kv::com::make<RecordingSink>("late");
    IKvAudioEncoder* enc = e.get();
    quitter->onData = [enc](RecordingSink& s) { enc->RemoveSink(static_cast<IKvAudioSink*>(&s)); };
    adder->onData = [enc, &late](RecordingSink&) { enc->AddSink(static_cast<IKvAudioSink*>(late.get())); };
    ASSERT_EQ(add(e.get(), quitter.get()), S_OK);
    ASSERT_EQ(add(e.get(), adder.get()), S_OK);
    push(e.get(), std::vector<BYTE>(320, 0));
    push(e.get(), std::vector<BYTE>(320, 0));
    EXPECT_EQ(quitter->blocks.size(), 1u) << "removed itself after the first block";
    EXPECT_EQ(adder->blocks.size(), 2u);
    EXPECT_EQ(late->blocks.size(), 1u) << "added during the first delivery, called from the second on";

    // A sink that drops the caller's last reference: the call still ends cleanly.
    auto dropper = kv::com::make<RecordingSink>("dropper");
    dropper->onData = [&e](RecordingSink&) { e.reset(); };
    ASSERT_EQ(add(enc, dropper.get()), S_OK);
    BYTE pcm[320] = {};
    enc->OnAudioData(pcm, 320);
    EXPECT_FALSE(e);
    EXPECT_EQ(dropper->blocks.size(), 1u);

    // The same with one sink.
    auto alone = create();
    IKvAudioEncoder* one = alone.get();
    auto lone = kv::com::make<RecordingSink>("lone");
    auto second = kv::com::make<RecordingSink>("second");
    lone->onData = [one, &second](RecordingSink&) { one->AddSink(static_cast<IKvAudioSink*>(second.get())); };
    ASSERT_EQ(add(one, lone.get()), S_OK);
    push(one, std::vector<BYTE>(640, 0));
    push(one, std::vector<BYTE>(640, 0));
    EXPECT_EQ(second->blocks, std::vector<LONG>{320}) << "added during the first call, called in the second";
    ASSERT_EQ(remove(one, second.get()), S_OK);
    lone->onData = [one](RecordingSink& s) { one->RemoveSink(static_cast<IKvAudioSink*>(&s)); };
    push(one, std::vector<BYTE>(640, 0));
    push(one, std::vector<BYTE>(640, 0));
    EXPECT_EQ(lone->blocks.size(), 3u) << "removed itself in the third call";
    ASSERT_EQ(add(one, lone.get()), S_OK);
    lone->onData = [&alone](RecordingSink&) { alone.reset(); };
    push(one, std::vector<BYTE>(640, 0));
    EXPECT_FALSE(alone);
    EXPECT_EQ(lone->blocks.size(), 4u);
}

// An aggregate that lets go of its inner object when its own count reaches 0.
class DroppingOuter : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return inner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--count == 0) std::exchange(inner, nullptr)->Release();
        return count;
    }
    IUnknown* inner = nullptr;
    ULONG count = 0;
};

// The last reference goes inside a delivery, alone and aggregated, with a
// block coded or none: the object ends only once the call is over.
TEST_F(EncoderCore, FinalReleaseInsideADeliveryWaitsForItsEnd) {
    const std::string removed = "registry.RemoveObject KvCom.KvAudio.KvAudioEncoder.KVG711A";
    const auto released = [&] { return std::count(callLog().begin(), callLog().end(), removed); };
    for (const bool aggregated : {false, true}) {
        for (const LONG bytes : {640, 100}) {
            SCOPED_TRACE(std::string(aggregated ? "aggregated, " : "alone, ") + std::to_string(bytes) + " bytes");
            DroppingOuter outer;
            ComPtr<IKvAudioEncoder> e;
            if (aggregated) {
                ASSERT_EQ(kv::com::createInstance<kv::encoders::CKV_AudioG711A>(&outer, IID_IUnknown,
                                                                                reinterpret_cast<void**>(&outer.inner)),
                          S_OK);
                ASSERT_EQ(outer.QueryInterface(IID_IKvAudioEncoder, e.put_void()), S_OK);
            } else {
                e = create();
            }
            auto sink = kv::com::make<RecordingSink>("dropper");
            ASSERT_EQ(add(e.get(), sink.get()), S_OK);
            callLog().clear();
            IKvAudioEncoder* const enc = e.get();
            long seenInside = -1;
            sink->onData = [&](RecordingSink&) {
                e.reset();
                seenInside = released();
            };
            std::vector<BYTE> pcm(static_cast<std::size_t>(bytes), 0);
            EXPECT_EQ(enc->OnAudioData(pcm.data(), bytes), S_OK);
            EXPECT_EQ(seenInside, 0) << "ended while its call was still running";
            EXPECT_EQ(released(), 1) << "never ended";
            EXPECT_EQ(outer.inner, nullptr);
        }
    }
}

// A sink that throws breaks its own contract; the call fails and the object
// goes on as before, whether the call coded a block or not.
TEST_F(EncoderCore, ASinkThatThrowsLeavesTheObjectWorking) {
    for (const LONG bytes : {640, 100}) {
        SCOPED_TRACE(std::to_string(bytes) + " bytes");
        auto e = create();
        auto sink = kv::com::make<RecordingSink>("thrower");
        auto other = kv::com::make<RecordingSink>("other");  // the walk it broke off ends cleanly
        ASSERT_EQ(add(e.get(), sink.get()), S_OK);
        ASSERT_EQ(add(e.get(), other.get()), S_OK);
        std::vector<BYTE> pcm(static_cast<std::size_t>(bytes) * 4, 0);
        int calls = 0;
        sink->onData = [&](RecordingSink&) {
            if (++calls == 1) throw std::bad_alloc();
            if (calls == 2) throw 7;
        };
        EXPECT_EQ(e->OnAudioData(pcm.data(), bytes), E_OUTOFMEMORY);
        EXPECT_EQ(e->OnAudioData(pcm.data() + bytes, bytes), E_UNEXPECTED);
        EXPECT_EQ(e->OnAudioData(pcm.data() + 2 * bytes, bytes), S_OK);
        EXPECT_EQ(e->OnAudioData(pcm.data() + 3 * bytes, bytes), S_OK);
        EXPECT_EQ(calls, 4) << "every call reached the sink";
        EXPECT_GE(other->blocks.size(), 2u);
    }
}

}  // namespace
