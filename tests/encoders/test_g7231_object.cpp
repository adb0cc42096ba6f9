// The G.723.1 encoder object: the frames it delivers for the reference
// vectors under different splits of the input, its frame staging, its codec,
// the independence of its stream from other objects, and data calls larger
// than its output area.
#include "tests/server/linked_classes.h"
#include "codecs/G7231Codec.h"
#include "encoders/KV_AudioG7231.h"
#include "tests/encoders/doubles.h"
#include "tests/g7231/vector_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

using kv::com::ComPtr;
using kvtest::callLog;
using kvtest::RecordingSink;

namespace {

constexpr long kFrame = 480;  // PCM bytes per frame
constexpr long kCode = 24;    // code bytes per frame
constexpr long kStaging = 4800;

const char* const kVectors[] = {"itu_pathc63h", "itu_tamec63h", "speech_en", "voice_a",
                                "sine_1k",      "noise",        "silence",   "overload"};

std::vector<BYTE> pcmOf(const std::string& name) {
    return g7231_test::readBytes(g7231_test::vectorDir() + name + ".pcm");
}
std::vector<BYTE> codeOf(const std::string& name) {
    return g7231_test::readBytes(g7231_test::vectorDir() + name + ".g7231");
}

// The stream the coder itself gives for the whole frames of pcm, each coded
// once in order from a fresh state: what the object must deliver, in prefix.
std::vector<BYTE> referenceCode(const std::vector<BYTE>& pcm) {
    kv::g7231::CodStat cs;
    kv::g7231::Init_Coder(cs);
    std::vector<BYTE> out(pcm.size() / kFrame * kCode);
    for (std::size_t f = 0; f < pcm.size() / kFrame; ++f) {
        kv::g7231::Word16 work[kv::g7231::Frame];
        for (int i = 0; i < kv::g7231::Frame; ++i)
            work[i] = static_cast<kv::g7231::Word16>(pcm[f * kFrame + 2 * i] | (pcm[f * kFrame + 2 * i + 1] << 8));
        kv::g7231::Coder(cs, work, out.data() + f * kCode);
    }
    return out;
}

// Several vectors back to back: a megabyte of varied signal.
const std::vector<BYTE>& longPcm() {
    static const std::vector<BYTE> pcm = [] {
        std::vector<BYTE> all;
        for (const char* n : {"itu_pathc63h", "speech_en", "noise", "sine_1k", "voice_a", "overload", "itu_pathc63h"}) {
            const auto v = pcmOf(n);
            all.insert(all.end(), v.begin(), v.end());
        }
        all.resize(2100 * kFrame);  // enough for every call below, and no more to code
        return all;
    }();
    return pcm;
}
const std::vector<BYTE>& longCode() {
    static const std::vector<BYTE> code = referenceCode(longPcm());
    return code;
}

// What one data call of n bytes does to the staging when fill bytes are held,
// as a closed form of taking the input in pieces: the first piece tops the
// staging up to 4800 bytes, each later one brings 480, and every piece codes
// one frame; below one frame held, nothing is coded.
struct Staging {
    long fill;
    long frames;
};
Staging afterCall(long fill, long n) {
    if (n <= 0) return {fill, 0};
    if (fill + n < kFrame) return {fill + n, 0};
    const long room = kStaging - fill;
    const long frames = n <= room ? 1 : 1 + (n - room + kFrame - 1) / kFrame;
    return {fill + n - frames * kFrame, frames};
}

// An encoder created as a client would, with one recording sink, fed from a
// PCM buffer front to back.
struct Session {
    ComPtr<IKvAudioEncoder> encoder;
    ComPtr<RecordingSink> sink;
    const std::vector<BYTE>* pcm = nullptr;
    long fed = 0;

    explicit Session(const std::vector<BYTE>& source) : pcm(&source) {
        EXPECT_EQ(
            kv::com::createInstance<kv::encoders::CKV_AudioG7231>(nullptr, IID_IKvAudioEncoder, encoder.put_void()),
            S_OK);
        sink = kv::com::make<RecordingSink>();
        EXPECT_EQ(encoder->AddSink(static_cast<IKvAudioSink*>(sink.get())), S_OK);
    }
    // Passes the next n source bytes; n <= 0 passes a valid pointer with that length.
    void push(long n) {
        encoder->OnAudioData(const_cast<BYTE*>(pcm->data() + fed), static_cast<LONG>(n));
        if (n > 0) fed += n;
    }
    long frames() const { return static_cast<long>(sink->bytes.size()) / kCode; }
    LONG lastBlock() const { return sink->blocks.empty() ? -1 : sink->blocks.back(); }
};

class G7231Object : public ::testing::Test, public kvtest::ComponentsFixture {};

// ---------------------------------------------------------------------------
// The reference vectors through the object: the head of each, 40 frames and
// half of one, which every call size below fills the staging with, runs it
// full and ends on a part frame. The whole files go through the coder in
// tests/g7231/test_vectors.cpp.

constexpr long kHeadBytes = 40 * kFrame + kFrame / 2;

struct VectorCase {
    std::string vector;
    long chunk;  // 0: the whole file in one call
};
void PrintTo(const VectorCase& c, std::ostream* os) { *os << c.vector << " in chunks of " << c.chunk; }

class G7231ObjectVectors : public ::testing::TestWithParam<VectorCase>, public kvtest::ComponentsFixture {};

TEST_P(G7231ObjectVectors, DeliversTheExpectedFramesAndHoldsTheRest) {
    const auto& [name, chunkParam] = GetParam();
    auto pcm = pcmOf(name);
    auto want = codeOf(name);
    ASSERT_EQ(want.size(), pcm.size() / kFrame * kCode) << name;
    ASSERT_GE(static_cast<long>(pcm.size()), kHeadBytes) << name;
    pcm.resize(kHeadBytes);
    const long whole = kHeadBytes / kFrame;
    want.resize(whole * kCode);
    const long chunk = chunkParam ? chunkParam : static_cast<long>(pcm.size());

    Session s(pcm);
    Staging model{0, 0};
    while (s.fed < static_cast<long>(pcm.size())) {
        const long n = std::min(chunk, static_cast<long>(pcm.size()) - s.fed);
        const Staging next = afterCall(model.fill, n);
        s.push(n);
        ASSERT_EQ(s.lastBlock(), next.frames * kCode) << name << " call at byte " << s.fed - n;
        model = {next.fill, model.frames + next.frames};
    }
    ASSERT_EQ(s.frames(), model.frames);
    ASSERT_TRUE(std::equal(s.sink->bytes.begin(), s.sink->bytes.end(), want.begin()))
        << name << ": the delivered frames are not the start of the expected stream";

    // What is held is the file's next frames, none lost: single bytes bring
    // them out one per call.
    static const BYTE zero[1] = {0};
    while (s.frames() < whole) {
        s.encoder->OnAudioData(const_cast<BYTE*>(zero), 1);
        ASSERT_EQ(s.lastBlock(), kCode) << name << ": a held frame did not come out";
    }
    EXPECT_EQ(s.sink->bytes, want) << name;
}

std::vector<VectorCase> vectorCases() {
    std::vector<VectorCase> cases;
    for (const char* v : kVectors)
        for (long chunk : {480L, 1L, 479L, 960L, 4321L, 5760L, 0L}) cases.push_back({v, chunk});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(All, G7231ObjectVectors, ::testing::ValuesIn(vectorCases()),
                         [](const ::testing::TestParamInfo<VectorCase>& p) {
                             return p.param.vector + "_" +
                                    (p.param.chunk ? "chunk" + std::to_string(p.param.chunk) : std::string("whole"));
                         });

// Worked by hand for speech_en (170766 bytes, 355 whole frames), so the
// staging model above is itself checked.
TEST_F(G7231Object, SpeechInOneCallHoldsTheLastFramesAsWorkedOut) {
    const auto pcm = pcmOf("speech_en");
    ASSERT_EQ(pcm.size(), 170766u);
    // One call: the first piece fills 4800 bytes, then ceil(165966 / 480) =
    // 346 more pieces: 347 frames, 170766 - 347 * 480 = 4206 bytes held.
    Session s(pcm);
    s.push(static_cast<long>(pcm.size()));
    EXPECT_EQ(s.sink->blocks, (std::vector<LONG>{347 * 24}));
    EXPECT_EQ(afterCall(0, 170766).frames, 347);
    EXPECT_EQ(afterCall(0, 170766).fill, 4206);
    // 960-byte calls code one frame each until 4320 bytes are held, then two:
    // 9 + 168 * 2 + 2 for the last 846 bytes, the same 347 frames.
    Session t(pcm);
    while (t.fed < 170766) t.push(std::min(960L, 170766 - t.fed));
    EXPECT_EQ(t.frames(), 347);
    EXPECT_EQ(t.sink->bytes, s.sink->bytes);
}

// ---------------------------------------------------------------------------
// Staging.

struct StagingCase {
    const char* name;
    std::vector<long> calls;
    std::vector<LONG> blocks;  // block length delivered by each call
    long heldFrames;           // whole frames held after the last call
};

TEST_F(G7231Object, Staging) {
    const StagingCase cases[] = {
        {"479 then 1", {479, 1}, {0, 24}, 0},
        {"480 per call", {480, 480, 480, 480}, {24, 24, 24, 24}, 0},
        {"960 then 480 keeps 480 held", {960, 480, 480}, {24, 24, 24}, 1},
        {"5760 fills, then two pieces of 480: 4320 held", {5760}, {72}, 9},
        {"full staging takes 480 per frame", {5760, 480, 481}, {72, 24, 48}, 8},
        {"0 and negative are no data", {479, 0, -1, -480, 1}, {0, 0, 0, 0, 24}, 0},
        {"4321 then 479", {4321, 479}, {24, 24}, 8},
    };
    const auto& pcm = longPcm();
    const auto& want = longCode();
    for (const auto& c : cases) {
        Session s(pcm);
        for (long n : c.calls) s.push(n);
        EXPECT_EQ(s.sink->blocks, c.blocks) << c.name;
        // A single byte brings out a frame while at least 479 bytes are held.
        long drained = 0;
        for (s.push(1); s.lastBlock() == kCode && drained < 20; s.push(1)) ++drained;
        EXPECT_EQ(s.lastBlock(), 0) << c.name;
        EXPECT_EQ(drained, c.heldFrames) << c.name;
        EXPECT_TRUE(std::equal(s.sink->bytes.begin(), s.sink->bytes.end(), want.begin())) << c.name;
    }
}

// Removing the last sink disconnects from the capture component but neither
// restarts the coder nor drops what is held.
TEST_F(G7231Object, StreamSurvivesLosingAndRegainingItsSinks) {
    const auto& pcm = longPcm();
    Session s(pcm);
    s.push(960);  // one frame out, one held
    ASSERT_EQ(s.encoder->RemoveSink(static_cast<IKvAudioSink*>(s.sink.get())), S_OK);
    s.push(480);  // coded with nobody listening
    ASSERT_EQ(s.encoder->AddSink(static_cast<IKvAudioSink*>(s.sink.get())), S_OK);
    s.push(1);
    const auto& want = longCode();
    ASSERT_EQ(s.sink->blocks, (std::vector<LONG>{24, 24}));
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + 24, s.sink->bytes.begin()));
    EXPECT_TRUE(std::equal(want.begin() + 48, want.begin() + 72, s.sink->bytes.begin() + 24))
        << "the frame after the unheard one";
}

// Encode itself, below the core: its outputs are written on every call.
class EncodeProbe : public kv::encoders::CKV_AudioG7231 {
public:
    using kv::encoders::CKV_AudioG7231::Encode;
};

TEST_F(G7231Object, EncodeAlwaysPointsAtItsOwnBlock) {
    auto probe = kv::com::make<EncodeProbe>();
    ASSERT_EQ(probe->finalConstruct(), S_OK);
    const auto& pcm = longPcm();
    BYTE* block = nullptr;
    int length = 0;
    ASSERT_EQ(probe->Encode(pcm.data(), 960, &block, &length), S_OK);
    ASSERT_EQ(length, 24);
    BYTE* const own = block;
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(std::equal(own, own + 24, longCode().begin()));
    for (int n : {0, -1, -960, 479}) {
        BYTE sentinel = 0;
        block = &sentinel;
        length = 12345;
        EXPECT_EQ(probe->Encode(pcm.data() + 960, n, &block, &length), S_OK) << n;
        EXPECT_EQ(block, own) << n;
        EXPECT_EQ(length, n == 479 ? 24 : 0) << n << " with 480 bytes held before";
    }
}

// ---------------------------------------------------------------------------
// The codec.

TEST(G7231Codec, CodesWholeFramesAndLeavesTheInputAlone) {
    const auto& pcm = longPcm();
    std::vector<std::int16_t> samples(480);
    std::memcpy(samples.data(), pcm.data(), 960);
    const auto before = samples;

    kv::codecs::CG7231Codec codec;
    codec.initCodec();
    std::vector<BYTE> out(48, 0xEE);
    int count = -7;
    EXPECT_EQ(codec.encodeG7231(samples.data(), 960, out.data(), &count), 48);
    EXPECT_EQ(count, 48);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), longCode().begin())) << "frame 1 is coded from bytes 480 to 959";
    EXPECT_EQ(samples, before);

    // A new stream on the same codec starts over.
    codec.initCodec();
    std::vector<BYTE> again(24);
    EXPECT_EQ(codec.encodeG7231(samples.data(), 480, again.data(), &count), 24);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), out.begin()));
}

TEST(G7231Codec, RefusesWhatIsNotWholeFrames) {
    std::vector<std::int16_t> samples(1200, 100);
    std::vector<BYTE> out(100, 0xEE);
    int count = -7;
    struct Refusal {
        const char* name;
        const std::int16_t* pcm;
        int bytes;
        BYTE* out;
        int* count;
    };
    const Refusal cases[] = {
        {"500 bytes", samples.data(), 500, out.data(), &count},
        {"479 bytes", samples.data(), 479, out.data(), &count},
        {"0 bytes", samples.data(), 0, out.data(), &count},
        {"-480 bytes", samples.data(), -480, out.data(), &count},
        {"null pcm", nullptr, 480, out.data(), &count},
        {"null out", samples.data(), 480, nullptr, &count},
        {"null count", samples.data(), 480, out.data(), nullptr},
    };
    kv::codecs::CG7231Codec codec;
    codec.initCodec();
    for (const auto& c : cases) {
        EXPECT_EQ(codec.encodeG7231(c.pcm, c.bytes, c.out, c.count), -1) << c.name;
        EXPECT_EQ(count, -7) << c.name;
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](BYTE b) { return b == 0xEE; })) << c.name;
    }
}

// ---------------------------------------------------------------------------
// Each object has its own stream.

TEST_F(G7231Object, InterleavedObjectsKeepTheirOwnStreams) {
    const auto speech = pcmOf("speech_en");
    const auto sine = pcmOf("sine_1k");
    const auto voice = pcmOf("voice_a");
    Session a(speech), b(sine);
    std::vector<Session> late;
    for (int round = 0; round < 40; ++round) {
        a.push(480);
        b.push(480);
        if (round == 20) late.emplace_back(voice);  // set up while the others stream
        if (!late.empty()) late[0].push(480);
    }
    const auto speechCode = codeOf("speech_en");
    const auto sineCode = codeOf("sine_1k");
    const auto voiceCode = codeOf("voice_a");
    ASSERT_EQ(a.frames(), 40);
    ASSERT_EQ(b.frames(), 40);
    ASSERT_EQ(late[0].frames(), 20);
    EXPECT_TRUE(std::equal(a.sink->bytes.begin(), a.sink->bytes.end(), speechCode.begin()));
    EXPECT_TRUE(std::equal(b.sink->bytes.begin(), b.sink->bytes.end(), sineCode.begin()));
    EXPECT_TRUE(std::equal(late[0].sink->bytes.begin(), late[0].sink->bytes.end(), voiceCode.begin()));
}

// ---------------------------------------------------------------------------
// Creation: every way of making the object sets its coder up, and the object
// takes itself out of the registry under its own name.

class Outer : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }
    IUnknown* inner = nullptr;
    ULONG count = 1;
};

TEST_F(G7231Object, EveryWayOfCreatingItCodesFromAFreshState) {
    ASSERT_EQ(kvtest::registerLinkedClasses(), S_OK);
    const auto& pcm = longPcm();
    for (const char* way : {"alone", "aggregated", "class object"}) {
        callLog().clear();
        Outer outer;
        ComPtr<IKvAudioEncoder> encoder;
        if (std::string(way) == "alone") {
            ASSERT_EQ(
                kv::com::createInstance<kv::encoders::CKV_AudioG7231>(nullptr, IID_IKvAudioEncoder, encoder.put_void()),
                S_OK);
        } else if (std::string(way) == "aggregated") {
            ASSERT_EQ(kv::com::createInstance<kv::encoders::CKV_AudioG7231>(&outer, IID_IUnknown,
                                                                            reinterpret_cast<void**>(&outer.inner)),
                      S_OK);
            ASSERT_EQ(outer.QueryInterface(IID_IKvAudioEncoder, encoder.put_void()), S_OK);
        } else {
            ASSERT_EQ(CoCreateInstance(CLSID_KV_AudioG7231, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder,
                                       encoder.put_void()),
                      S_OK);
            EXPECT_TRUE(encoder.query<IKV_AudioG7231>()) << "the class interface";
        }
        auto sink = kv::com::make<RecordingSink>();
        ASSERT_EQ(encoder->AddSink(static_cast<IKvAudioSink*>(sink.get())), S_OK) << way;
        encoder->OnAudioData(const_cast<BYTE*>(pcm.data()), 960);
        encoder->OnAudioData(const_cast<BYTE*>(pcm.data() + 960), 1);
        EXPECT_TRUE(std::equal(sink->bytes.begin(), sink->bytes.end(), longCode().begin())) << way;
        EXPECT_EQ(sink->bytes.size(), 48u) << way;
        encoder.reset();
        if (outer.inner) outer.inner->Release();
        const auto& log = callLog();
        EXPECT_NE(std::find(log.begin(), log.end(), "registry.RemoveObject KvCom.KvAudio.KvAudioEncoder.KVG7231"),
                  log.end())
            << way;
    }
    kvtest::revokeLinkedClasses();
}

// ---------------------------------------------------------------------------
// Calls larger than the output area.

struct LargeCase {
    long before;  // a first call that leaves some bytes held
    long large;
};

TEST_F(G7231Object, LargeCallsNeitherOverflowNorDropAndMatchOneUnboundedCall) {
    // 960001 bytes after 1 held: cut at a fixed 960000 bytes, the last piece
    // of 1 byte would code one frame more than a single call does. With 4320
    // held, the first 960000 bytes make exactly the 2000 frames the block holds.
    const LargeCase cases[] = {{1, 960001}, {5760, 1000003}};
    const auto& pcm = longPcm();
    const auto& want = longCode();
    for (const auto& c : cases) {
        ASSERT_LE(c.before + c.large, static_cast<long>(pcm.size()));
        Session s(pcm);
        s.push(c.before);
        const Staging first = afterCall(0, c.before);
        ASSERT_EQ(s.frames(), first.frames);
        const std::size_t blocksBefore = s.sink->blocks.size();
        s.push(c.large);
        const Staging unbounded = afterCall(first.fill, c.large);
        const std::string label = std::to_string(c.before) + " then " + std::to_string(c.large);
        EXPECT_EQ(s.frames(), first.frames + unbounded.frames) << label;
        EXPECT_GT(s.sink->blocks.size() - blocksBefore, 1u) << label << ": delivered in several blocks";
        for (LONG len : s.sink->blocks) EXPECT_LE(len, 48000) << label;
        EXPECT_TRUE(std::equal(s.sink->bytes.begin(), s.sink->bytes.end(), want.begin())) << label;
    }
}

}  // namespace
