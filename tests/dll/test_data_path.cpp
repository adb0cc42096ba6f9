// Captured PCM through the registered module to a sink, for every format,
// judged against results known without the module: the G.711 laws written out
// apart from the codec, the G.723.1 reference frames, and the properties every
// Quorvan stream has.
#include "tests/dll/fixture.h"
#include "tests/tools/g711_reference.h"

#include <functional>

namespace client {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes data(const wchar_t* name) {
    Bytes b = readFile(paths().data + L"\\g7231\\" + name);
    EXPECT_FALSE(b.empty()) << "cannot read " << narrow(name);
    return b;
}

std::int16_t sampleAt(const Bytes& pcm, std::size_t i) {
    return static_cast<std::int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
}

// G.711: one byte per sample of every whole 160-sample block.
Bytes g711(const Bytes& pcm, std::uint8_t (*law)(std::int16_t)) {
    Bytes out;
    const std::size_t samples = pcm.size() / 320 * 160;
    for (std::size_t i = 0; i < samples; ++i) out.push_back(law(sampleAt(pcm, i)));
    return out;
}

struct Case {
    const char* name;
    const EncoderClass* cls;
    const wchar_t* input;
    std::size_t chunk;  // bytes per capture call
    std::size_t block;  // every delivery is a whole number of these
    std::function<void(const Bytes& pcm, const Bytes& out)> check;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {"G711A_speech_20ms", &kG711A, L"speech_en.pcm", 640, 160,
     [](const Bytes& pcm, const Bytes& out) { EXPECT_EQ(out, g711(pcm, kvtest::alawReference)); }},
    {"G711U_noise_odd_calls", &kG711U, L"noise.pcm", 333, 160,
     [](const Bytes& pcm, const Bytes& out) { EXPECT_EQ(out, g711(pcm, kvtest::ulawReference)); }},
    {"G711A_overload_odd_calls", &kG711A, L"overload.pcm", 1001, 160,
     [](const Bytes& pcm, const Bytes& out) { EXPECT_EQ(out, g711(pcm, kvtest::alawReference)); }},
    {"G7231_speech_frames", &kG7231, L"speech_en.pcm", 480, 24,
     [](const Bytes&, const Bytes& out) { EXPECT_EQ(out, data(L"speech_en.g7231")); }},
    {"G7231_noise_frames", &kG7231, L"noise.pcm", 480, 24,
     [](const Bytes&, const Bytes& out) { EXPECT_EQ(out, data(L"noise.g7231")); }},
    {"Quorvan_silence", &kQuorvan, L"silence.pcm", 640, 240,
     [](const Bytes& pcm, const Bytes& out) {
         ASSERT_EQ(out.size(), pcm.size() / 480 * 240);
         EXPECT_EQ(out.front(), 0xFA);
         for (std::uint8_t b : out) ASSERT_GE(b, 0xC4);
     }},
    {"Quorvan_speech", &kQuorvan, L"speech_en.pcm", 1000, 240,
     [](const Bytes& pcm, const Bytes& out) {
         ASSERT_EQ(out.size(), pcm.size() / 480 * 240);
         for (std::uint8_t b : out) ASSERT_GE(b, 0xC4);
     }},
};

class DataPath : public ClientTest, public testing::WithParamInterface<Case> {};

TEST_P(DataPath, CapturedPcmReachesTheSinkEncoded) {
    const Case& c = GetParam();
    const Bytes pcm = data(c.input);
    ASSERT_FALSE(pcm.empty());
    auto recorder = runningRecorder();
    Ptr<IKvAudioEncoder> encoder = create(*c.cls);
    ASSERT_TRUE(encoder);
    auto sink = make<SinkDouble>();
    ASSERT_EQ(encoder->AddSink(sink.get()), S_OK);
    ASSERT_EQ(recorder->targets.size(), 1u);

    recorder->capture(pcm, c.chunk);

    // One delivery per capture call, each of whole blocks.
    EXPECT_EQ(sink->blocks.size(), (pcm.size() + c.chunk - 1) / c.chunk);
    for (LONG n : sink->blocks) EXPECT_EQ(n % static_cast<LONG>(c.block), 0) << n;
    c.check(pcm, sink->bytes);
}

INSTANTIATE_TEST_SUITE_P(DllClient, DataPath, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

class Sinks : public ClientTest {};

// Every sink hears every block, in one order whatever the order they came in,
// and leaves without disturbing the others.
TEST_F(Sinks, TwoSinksHearTheSameStream) {
    auto recorder = runningRecorder();
    Ptr<IKvAudioEncoder> encoder = create(kG711U);
    ASSERT_TRUE(encoder);
    auto a = make<SinkDouble>();
    auto b = make<SinkDouble>();
    a->name = "a";
    b->name = "b";
    ASSERT_EQ(encoder->AddSink(b.get()), S_OK);
    ASSERT_EQ(encoder->AddSink(a.get()), S_OK);
    const Bytes pcm = data(L"sine_1k.pcm");
    callLog().clear();
    recorder->capture(pcm.data(), 960, 320);
    const bool aFirst = static_cast<IKvAudioSink*>(a.get()) < static_cast<IKvAudioSink*>(b.get());
    const std::string first = aFirst ? "a" : "b", second = aFirst ? "b" : "a";
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) {
        expected.push_back(first + ".OnEncodedData 160");
        expected.push_back(second + ".OnEncodedData 160");
    }
    EXPECT_EQ(callLog(), expected) << "ascending order of the sink pointers";
    EXPECT_EQ(a->bytes, b->bytes);

    ASSERT_EQ(encoder->RemoveSink(a.get()), S_OK);
    recorder->capture(pcm.data() + 960, 320, 320);
    EXPECT_EQ(a->bytes.size(), 480u);
    EXPECT_EQ(b->bytes.size(), 640u);
    Bytes whole(pcm.begin(), pcm.begin() + 1280);
    EXPECT_EQ(b->bytes, g711(whole, kvtest::ulawReference));
}

}  // namespace
}  // namespace client
