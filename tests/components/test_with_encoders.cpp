// The components with the real encoder objects: an encoder finds the capture
// component entered in the registry, hears what it captures, and lets go of
// it when released.
#include "components/AudioRecorder.h"
#include "components/Sinks.h"
#include "tests/server/linked_classes.h"
#include "tests/components/helpers.h"
#include "tests/tools/g711_reference.h"

using kv::com::ComPtr;
using namespace kvtest;
namespace kc = kv::components;

namespace {

class WithEncoders : public ComponentsTest {
protected:
    void SetUp() override {
        ComponentsTest::SetUp();
        ASSERT_EQ(kvtest::registerLinkedClasses(), S_OK);
        ASSERT_EQ(CoCreateInstance(kc::CLSID_KvObjectRegistry, nullptr, CLSCTX_INPROC_SERVER, IID_IKvObjectRegistry,
                                   registry.put_void()),
                  S_OK);
        recorder = kv::com::make<kc::CKvAudioRecorder>();
        ASSERT_EQ(registry->AddObject(kc::kRecorderName, static_cast<IKvAudioRecorder*>(recorder.get())), S_OK);
    }
    void TearDown() override {
        BSTR name = SysAllocString(kc::kRecorderName);
        registry->RemoveObject(name);
        SysFreeString(name);
        registry.reset();
        recorder.reset();
        kvtest::revokeLinkedClasses();
        ComponentsTest::TearDown();
    }
    ComPtr<IKvAudioEncoder> encoder(REFCLSID clsid) {
        ComPtr<IKvAudioEncoder> e;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder, e.put_void()), S_OK);
        return e;
    }

    // CaptureFile, as C++ callers reach it.
    IKvAudioRecorder* api() { return recorder.get(); }

    ComPtr<IKvObjectRegistry> registry;
    ComPtr<kc::CKvAudioRecorder> recorder;
    TempDir dir;
};

TEST_F(WithEncoders, AnEncoderHearsTheRecorderEnteredInTheRegistry) {
    auto g711a = encoder(CLSID_KV_AudioG711A);
    auto sink = kv::com::make<kc::CKvMemorySink>();
    ASSERT_TRUE(g711a);
    ASSERT_EQ(g711a->AddSink(static_cast<IKvAudioSink*>(sink.get())), S_OK);
    EXPECT_EQ(recorder->dataTargetCount(), 1u);

    // 44.1 kHz stereo in: the recorder hands the encoder 16 kHz mono, the
    // capture format the encoder asked for, each sample the sum of one frame's
    // channels.
    std::vector<int> stereo;
    std::vector<BYTE> possible;
    for (int i = 0; i < 4410; ++i) {
        const int l = (i * 13) % 2000 - 1000, r = 300 - i % 600;
        stereo.push_back(l);
        stereo.push_back(r);
        possible.push_back(alawReference(static_cast<std::int16_t>(l + r)));
    }
    std::sort(possible.begin(), possible.end());
    ASSERT_EQ(api()->CaptureFile(ole(dir.write("in.wav", pcmWave(2, 44100, 16, samples16(stereo)))).c_str(), 640),
              S_OK);
    // 100 ms is 1600 samples: 10 whole G.711 blocks of 160.
    EXPECT_EQ(sink->bytes().size(), 1600u);
    for (BYTE b : sink->bytes()) ASSERT_TRUE(std::binary_search(possible.begin(), possible.end(), b)) << int(b);
    // Enough distinct codes arrive that this is no constant stream.
    std::vector<BYTE> distinct(sink->bytes());
    std::sort(distinct.begin(), distinct.end());
    EXPECT_GT(std::unique(distinct.begin(), distinct.end()) - distinct.begin(), 20);
}

TEST_F(WithEncoders, G711OutputMatchesTheLawForEverySample) {
    // Every 16-bit value, then 64 zeros to fill the last 160-sample block:
    // G.711 objects deliver whole blocks only.
    Bytes all;
    for (int v = -32768; v <= 32767; ++v) put16(all, static_cast<unsigned>(v) & 0xFFFF);
    all.resize(all.size() + 128, 0);
    const auto file = dir.write("all.raw", all);
    for (bool alaw : {true, false}) {
        SCOPED_TRACE(alaw ? "A-law" : "mu-law");
        auto e = encoder(alaw ? CLSID_KV_AudioG711A : CLSID_KV_AudioG711U);
        auto sink = kv::com::make<kc::CKvMemorySink>();
        ASSERT_EQ(e->AddSink(static_cast<IKvAudioSink*>(sink.get())), S_OK);
        ASSERT_EQ(api()->CaptureFile(ole(file).c_str(), 640), S_OK);
        ASSERT_EQ(sink->bytes().size(), 65600u);
        for (std::size_t i = 0; i < 65600; ++i) {
            const auto x = static_cast<std::int16_t>(all[2 * i] | all[2 * i + 1] << 8);
            ASSERT_EQ(sink->bytes()[i], alaw ? alawReference(x) : ulawReference(x)) << "sample " << x;
        }
        // 640-byte chunks make two 160-byte blocks each.
        EXPECT_EQ(sink->blocks().front(), 320);
    }
}

TEST_F(WithEncoders, ReleasingAnEncoderTakesItOffTheRecorder) {
    auto e = encoder(CLSID_KV_AudioG711U);
    auto sink = kv::com::make<kc::CKvMemorySink>();
    ASSERT_EQ(e->AddSink(static_cast<IKvAudioSink*>(sink.get())), S_OK);
    ASSERT_EQ(recorder->dataTargetCount(), 1u);
    // With its sink still attached: the recorder's registration must not keep it.
    e.reset();
    EXPECT_EQ(recorder->dataTargetCount(), 0u);
    EXPECT_EQ(api()->CaptureFile(ole(dir.write("in.raw", Bytes(640, 0))).c_str(), 640), kc::E_KV_NO_TARGET);
    EXPECT_TRUE(sink->bytes().empty());
}

TEST_F(WithEncoders, AnEncoderWithoutARecorderEntryCreatesOurs) {
    BSTR name = SysAllocString(kc::kRecorderName);
    ASSERT_EQ(registry->RemoveObject(name), S_OK);
    SysFreeString(name);
    auto e = encoder(CLSID_KV_AudioG711A);
    auto sink = kv::com::make<kc::CKvMemorySink>();
    // The encoder's CoCreateInstance reaches the registered capture class.
    EXPECT_EQ(e->AddSink(static_cast<IKvAudioSink*>(sink.get())), S_OK);
    EXPECT_EQ(recorder->dataTargetCount(), 0u);
}

}  // namespace
