// The calls an encoder object makes on the registry component, the capture
// component and the sinks, as those components see them through their slots.
#include "tests/dll/fixture.h"

namespace client {
namespace {

using Strings = std::vector<std::string>;

const Strings kConnect = {"registry.LookupObject KvCom.KvAudio.KvAudioRecorder",
                          "recorder.SetProperty SamplesPerSec=16000", "recorder.SetProperty BitsPerSample=16",
                          "recorder.AddDataTarget"};

Strings operator+(Strings a, const Strings& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Components : public EachClass {};

TEST_P(Components, TheRunningCaptureComponentIsJoinedAndLeft) {
    auto recorder = runningRecorder();
    const LONG recorderRefs = recorder->refs();
    Ptr<IKvAudioEncoder> encoder = create(cls());
    ASSERT_TRUE(encoder);
    EXPECT_EQ(callLog(), Strings{"registry.create"});
    auto defaultInterface = encoder.query<IUnknown>(cls().classIid);
    auto sink = make<SinkDouble>();

    callLog().clear();
    EXPECT_EQ(encoder->AddSink(sink.get()), S_OK);
    EXPECT_EQ(encoder->AddSink(sink.get()), S_FALSE) << "already there";
    EXPECT_EQ(callLog(), kConnect + kConnect) << "every AddSink connects again";
    EXPECT_EQ(recorder->targets, std::vector<IUnknown*>{defaultInterface.get()})
        << "the data target is the encoder's default interface";
    EXPECT_EQ(sink->refs(), 2) << "the sink set holds one reference";

    callLog().clear();
    EXPECT_EQ(encoder->RemoveSink(sink.get()), S_OK);
    EXPECT_EQ(encoder->RemoveSink(sink.get()), S_FALSE) << "no longer there";
    EXPECT_EQ(callLog(), Strings{"recorder.RemoveDataTarget"}) << "once, for the last sink";
    EXPECT_EQ(sink->refs(), 1);

    callLog().clear();
    EXPECT_EQ(encoder->AddSink(sink.get()), S_OK);
    encoder.reset();
    EXPECT_EQ(callLog(), kConnect) << "the object lives on through its default interface";
    callLog().clear();
    defaultInterface.reset();
    EXPECT_EQ(callLog(),
              (Strings{std::string("registry.RemoveObject ") + cls().registryName, "recorder.RemoveDataTarget"}));
    EXPECT_TRUE(recorder->targets.empty());
    EXPECT_EQ(sink->refs(), 1) << "the sink is let go";
    EXPECT_EQ(recorder->refs(), recorderRefs) << "the capture component is let go";
}

// Whatever the registry chose, what LookupObject gave is never released by
// the module: a lending registry's capture component outlives any number of
// AddSink calls, and one that handed out references keeps every one of them.
TEST_P(Components, TheRunningCaptureComponentIsBorrowed) {
    constexpr LONG kRounds = 1000;
    for (const bool addsReference : {false, true}) {
        World::reset();
        World::lookupAddsReference = addsReference;
        auto recorder = runningRecorder();
        const LONG before = recorder->refs();
        const LONG handedOut = addsReference ? kRounds : 0;
        Ptr<IKvAudioEncoder> encoder = create(cls());
        auto sink = make<SinkDouble>();
        for (LONG round = 0; round < kRounds; ++round) {
            ASSERT_EQ(encoder->AddSink(sink.get()), S_OK) << round;
            ASSERT_EQ(encoder->RemoveSink(sink.get()), S_OK) << round;
        }
        EXPECT_EQ(recorder->refs(), before + handedOut + 1) << "the module holds one reference of its own";
        encoder.reset();
        EXPECT_EQ(recorder->refs(), before + handedOut) << "addsReference " << addsReference;
        for (LONG i = 0; i < handedOut; ++i) recorder->Release();  // the references the registry gave away
    }
}

INSTANTIATE_TEST_SUITE_P(DllClient, Components, testing::ValuesIn(kEncoderClasses), className);

// With no capture component running, AddSink makes one through COM, and
// makes a new one each time the registry still knows none.
class Capture : public ClientTest {};

TEST_F(Capture, ACaptureComponentIsCreatedWhenNoneRuns) {
    Ptr<IKvAudioEncoder> encoder = create(kG711A);
    ASSERT_TRUE(encoder);
    auto a = make<SinkDouble>();
    auto b = make<SinkDouble>();

    callLog().clear();
    ASSERT_EQ(encoder->AddSink(a.get()), S_OK);
    EXPECT_EQ(callLog(), (Strings{kConnect[0], "recorder.create", kConnect[1], kConnect[2], kConnect[3]}));
    ASSERT_EQ(World::createdRecorders.size(), 1u);

    callLog().clear();
    ASSERT_EQ(encoder->AddSink(b.get()), S_OK);
    EXPECT_EQ(callLog(), (Strings{kConnect[0], "recorder.RemoveDataTarget", "recorder.create", kConnect[1], kConnect[2],
                                  kConnect[3]}));
    ASSERT_EQ(World::createdRecorders.size(), 2u);
    EXPECT_TRUE(World::createdRecorders[0]->targets.empty());
    EXPECT_EQ(World::createdRecorders[0]->refs(), 1) << "the old one is let go";

    const std::vector<std::uint8_t> pcm(320, 0);
    World::createdRecorders[1]->capture(pcm, pcm.size());
    EXPECT_EQ(a->blocks, std::vector<LONG>{160});
    EXPECT_EQ(b->blocks, std::vector<LONG>{160});
}

}  // namespace
}  // namespace client
