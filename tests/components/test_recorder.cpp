// The capture component: its properties, its data targets, what it makes of
// WAVE and raw files, how it cuts them, what it refuses, and its device.
#include <cmath>

#include "components/AudioRecorder.h"
#include "components/PcmFile.h"
#include "components/Sinks.h"
#include "tests/com/last_error.h"
#include "tests/components/helpers.h"

using kv::com::ComPtr;
using namespace kvtest;
namespace kc = kv::components;

namespace {

// Deterministic samples spread over the whole 16-bit range.
std::vector<int> noise(std::size_t n, std::uint32_t seed = 1) {
    std::vector<int> s(n);
    for (int& v : s) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<std::int16_t>(seed >> 16);
    }
    return s;
}

// CaptureFile and SetProperty, as C++ callers reach them.
IKvAudioRecorder* api(kc::CKvAudioRecorder* recorder) { return recorder; }

class Recorder : public ComponentsTest {
protected:
    void SetUp() override {
        ComponentsTest::SetUp();
        recorder = kv::com::make<kc::CKvAudioRecorder>();
        target = kv::com::make<RecordingTarget>();
        ASSERT_EQ(recorder->AddDataTarget(target->identity()), S_OK);
    }
    HRESULT capture(const std::filesystem::path& file, LONG chunk = 640) {
        return api(recorder.get())->CaptureFile(ole(file).c_str(), chunk);
    }

    TempDir dir;
    ComPtr<kc::CKvAudioRecorder> recorder;
    ComPtr<RecordingTarget> target;
};

// ---- what comes out of a file ------------------------------------------------

struct Variant {
    const char* name;
    Bytes file;
    std::vector<int> expected;  // 16 kHz mono 16-bit samples
    friend void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }
};

std::vector<Variant> variants() {
    const std::vector<int> mono = noise(1001);
    const Bytes monoData = samples16(mono);

    Bytes eightBit;
    std::vector<int> eightBitExpected;
    for (int i = 0; i < 512; ++i) {
        eightBit.push_back(static_cast<BYTE>(i * 37));
        eightBitExpected.push_back((static_cast<BYTE>(i * 37) - 128) * 256);
    }
    // Stereo folds to the mean of the channels, rounded down.
    std::vector<int> stereo, stereoExpected;
    for (int v : noise(600, 7)) {
        const int l = v / 3, r = -v / 5 + 100;
        stereo.push_back(l);
        stereo.push_back(r);
        stereoExpected.push_back((l + r) >> 1);
    }
    Bytes stereo8;
    std::vector<int> stereo8Expected;
    for (int i = 0; i < 300; ++i) {
        const int l = 64 + i % 128, r = 190 - i % 120;
        stereo8.push_back(static_cast<BYTE>(l));
        stereo8.push_back(static_cast<BYTE>(r));
        stereo8Expected.push_back((l - 128 + r - 128) * 128);
    }
    const Bytes fmt = chunk("fmt ", fmtBody(1, 1, 16000, 16));
    Bytes truncated = riff({fmt, chunk("data", monoData, 100000)});
    // Cut the file inside the last sample: what is left is 1000 whole samples and a half.
    truncated.resize(truncated.size() - 1);

    return {
        {"mono16", pcmWave(1, 16000, 16, monoData), mono},
        {"mono8", pcmWave(1, 16000, 8, eightBit), eightBitExpected},
        {"stereo16", pcmWave(2, 16000, 16, samples16(stereo)), stereoExpected},
        {"stereo8", pcmWave(2, 16000, 8, stereo8), stereo8Expected},
        {"extraChunks",
         riff({chunk("LIST", Bytes(26, 'i')), fmt, chunk("fact", Bytes(4, 0)), chunk("data", monoData),
               chunk("id3 ", Bytes(10, 1))}),
         mono},
        {"oddChunkWithPad", riff({fmt, chunk("note", Bytes(5, 'n')), chunk("data", monoData)}), mono},
        {"longFormatChunk",
         riff({chunk("fmt ",
                     [] {
                         Bytes b = fmtBody(1, 1, 16000, 16);
                         put16(b, 0);
                         return b;
                     }()),
               chunk("data", monoData)}),
         mono},
        {"extensiblePcm", riff({chunk("fmt ", extensibleBody(1, 16000, 16, 1)), chunk("data", monoData)}), mono},
        {"streamedSizes", riff({fmt, chunk("data", monoData, 0xFFFFFFFF)}, 0), mono},
        {"truncatedData", truncated, std::vector<int>(mono.begin(), mono.end() - 1)},
        {"emptyData", pcmWave(1, 16000, 16, {}), {}},
    };
}

class Variants : public Recorder, public ::testing::WithParamInterface<Variant> {};

TEST_P(Variants, ArriveAsTheCaptureFormat) {
    const Variant& v = GetParam();
    ASSERT_EQ(capture(dir.write("in.wav", v.file)), S_OK);
    EXPECT_EQ(toSamples16(target->joined()), v.expected);
    EXPECT_EQ(target->joined().size(), 2 * v.expected.size());
}

INSTANTIATE_TEST_SUITE_P(Wave, Variants, ::testing::ValuesIn(variants()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Recorder, ResamplesOtherRatesToTheCaptureRate) {
    // A ramp is kept by any band-limited converter away from its ends: each
    // output sample lies on it at the output sample's own time, neither late
    // nor early; the length follows the rate ratio.
    for (std::uint32_t rate : {8000u, 11025u, 22050u, 44100u, 48000u}) {
        SCOPED_TRACE(rate);
        std::vector<int> ramp(rate / 10);  // 100 ms
        for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int>(i * 7) - 10000;
        target->calls.clear();
        ASSERT_EQ(capture(dir.write("ramp.wav", pcmWave(1, rate, 16, samples16(ramp)))), S_OK);
        const std::vector<int> out = toSamples16(target->joined());
        EXPECT_EQ(out.size(), 1600u);
        for (std::size_t i = out.size() / 4; i < out.size() * 3 / 4; ++i)
            ASSERT_NEAR(out[i], i * rate / 16000.0 * 7 - 10000, 2.0) << "sample " << i;
    }
}

TEST_F(Recorder, TakesRawFilesAsSixteenBitMonoAtTheCaptureRate) {
    const std::vector<int> s = noise(700, 3);
    Bytes raw = samples16(s);
    raw.push_back(0x7F);  // half a sample at the end is dropped
    ASSERT_EQ(capture(dir.write("take.RAW", raw)), S_OK);
    EXPECT_EQ(toSamples16(target->joined()), s);
    EXPECT_EQ(target->joined().size(), 1400u);

    // The capture format decides both how the raw file is read and what comes out.
    target->calls.clear();
    ASSERT_EQ(recorder->RemoveDataTarget(target->identity()), S_OK);
    ASSERT_EQ(api(recorder.get())->SetProperty(KV_W("SamplesPerSec"), KV_W("8000")), S_OK);
    ASSERT_EQ(api(recorder.get())->SetProperty(KV_W("BitsPerSample"), KV_W("8")), S_OK);
    ASSERT_EQ(recorder->AddDataTarget(target->identity()), S_OK);
    ASSERT_EQ(capture(dir.write("take.pcm", samples16(s))), S_OK);
    Bytes expected;
    for (int v : s) expected.push_back(static_cast<BYTE>((v >> 8) + 128));
    EXPECT_EQ(target->joined(), expected);
}

// ---- chunking ------------------------------------------------------------------

class Chunking : public Recorder, public ::testing::WithParamInterface<LONG> {};

TEST_P(Chunking, CutsTheStreamIntoChunksAndKeepsEveryByte) {
    const LONG chunk = GetParam();
    const Bytes data = samples16(noise(1000, 11));  // 2000 bytes
    ASSERT_EQ(capture(dir.write("in.wav", pcmWave(1, 16000, 16, data)), chunk), S_OK);
    EXPECT_EQ(target->flushes, 1) << "what the target holds comes out at the end";
    const std::size_t n = data.size();
    ASSERT_EQ(target->calls.size(), (n + chunk - 1) / chunk);
    for (std::size_t i = 0; i + 1 < target->calls.size(); ++i) ASSERT_EQ(target->calls[i].size(), std::size_t(chunk));
    EXPECT_EQ(target->calls.back().size(), n - (target->calls.size() - 1) * chunk);
    EXPECT_EQ(target->joined(), data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Chunking, ::testing::Values(1, 2, 7, 640, 1999, 2000, 2001, 1 << 20));

// ---- refusals -----------------------------------------------------------------

struct Refusal {
    const char* name;
    const char* file;  // written unless empty; "dir/" names a folder
    Bytes bytes;
    LONG chunk;
    HRESULT expected;
    const char* words = "";  // what the description says, beyond the path
    friend void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }
};

std::vector<Refusal> refusals() {
    const Bytes data = samples16(noise(100));
    const Bytes good = pcmWave(1, 16000, 16, data);
    return {
        {"missingFile", "", {}, 640, kc::E_KV_FILE_NOT_FOUND},
        {"missingFolder", "no/", {}, 640, kc::E_KV_PATH_NOT_FOUND, "the folder does not exist"},
        {"whatAnOpenSinkReplaces", "sink/", good, 640, kc::E_KV_INPUT_IN_USE,
         "an open FileSink or WavFileTarget writes this file"},
        {"folder", "dir/", {}, 640, E_ACCESSDENIED},
        {"chunkZero", "in.wav", good, 0, E_INVALIDARG, "the chunk size"},
        {"chunkNegative", "in.wav", good, -640, E_INVALIDARG},
        {"adpcmWave", "in.wav", riff({chunk("fmt ", fmtBody(2, 1, 16000, 4)), chunk("data", data)}), 640,
         kc::E_KV_NOT_PCM, "format tag 0x0002 (Microsoft ADPCM) is not supported"},
        {"gsmWave", "in.wav", riff({chunk("fmt ", fmtBody(0x31, 1, 8000, 0)), chunk("data", data)}), 640,
         kc::E_KV_NOT_PCM},
        {"extensibleMp3", "in.wav", riff({chunk("fmt ", extensibleBody(1, 16000, 16, 0x55)), chunk("data", data)}), 640,
         kc::E_KV_NOT_PCM},
        {"twelveBit", "in.wav", pcmWave(1, 16000, 12, Bytes(300, 0)), 640, kc::E_KV_UNSUPPORTED},
        {"noChannels", "in.wav", pcmWave(0, 16000, 16, Bytes(600, 0)), 640, kc::E_KV_UNSUPPORTED, "0 channels"},
        {"zeroRate", "in.wav", pcmWave(1, 0, 16, data), 640, kc::E_KV_UNSUPPORTED},
        {"text", "in.wav", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, 640, kc::E_KV_NOT_WAVE},
        {"emptyFile", "in.wav", {}, 640, kc::E_KV_NOT_WAVE, "the file is empty"},
        {"rawWithoutRawName", "in.dat", data, 640, kc::E_KV_NOT_WAVE},
        {"bigEndianRiff", "in.wav",
         [&] {
             Bytes b = good;
             b[3] = 'X';
             return b;
         }(),
         640, kc::E_KV_NOT_WAVE},
        {"noDataChunk", "in.wav", riff({chunk("fmt ", fmtBody(1, 1, 16000, 16))}), 640, kc::E_KV_NOT_WAVE},
        {"noFormatChunk", "in.wav", riff({chunk("data", data)}), 640, kc::E_KV_NOT_WAVE},
        {"dataBeforeFormat", "in.wav", riff({chunk("data", data), chunk("fmt ", fmtBody(1, 1, 16000, 16))}), 640,
         kc::E_KV_NOT_WAVE},
        {"shortFormatChunk", "in.wav", riff({chunk("fmt ", Bytes(14, 1)), chunk("data", data)}), 640,
         kc::E_KV_NOT_WAVE},
        {"shortExtensible", "in.wav",
         riff({chunk("fmt ",
                     [] {
                         Bytes b = fmtBody(0xFFFE, 1, 16000, 16);
                         put16(b, 0);
                         return b;
                     }()),
               chunk("data", data)}),
         640, kc::E_KV_NOT_WAVE},
        {"formatCutByEndOfFile", "in.wav",
         [] {
             Bytes b = riff({chunk("fmt ", fmtBody(1, 1, 16000, 16))});
             b.resize(b.size() - 4);
             return b;
         }(),
         640, kc::E_KV_NOT_WAVE},
    };
}

class Refusals : public Recorder, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, FailClearlyAndPushNothing) {
    const Refusal& r = GetParam();
    ComPtr<kc::CKvFileSink> writer;
    std::filesystem::path path = dir.path() / "absent.wav";
    if (std::string(r.file) == "dir/") {
        path = dir.path() / "folder.wav";
        std::filesystem::create_directory(path);
    } else if (std::string(r.file) == "no/") {
        path = dir.path() / "no" / "in.wav";
    } else if (std::string(r.file) == "sink/") {
        path = dir.write("in.wav", r.bytes);
        writer = kv::com::make<kc::CKvFileSink>();
        ASSERT_EQ(writer->open(dir.path() / "." / "in.wav"), S_OK);  // another spelling of the same file
    } else if (*r.file) {
        path = dir.write(r.file, r.bytes);
    }
    EXPECT_EQ(capture(path, r.chunk), r.expected);
    const std::string said = kvtest::lastError();
    EXPECT_NE(said.find(path.filename().string() + "': " + r.words), std::string::npos) << said;
    EXPECT_TRUE(target->calls.empty());
    if (writer) {
        EXPECT_EQ(readFile(path), r.bytes) << "the input is intact";
    }
}

INSTANTIATE_TEST_SUITE_P(Files, Refusals, ::testing::ValuesIn(refusals()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Recorder, RefusesANullPath) { EXPECT_EQ(api(recorder.get())->CaptureFile(nullptr, 640), E_POINTER); }

// ---- properties ---------------------------------------------------------------

struct PropertyCase {
    const char16_t* name;
    const char16_t* value;
    bool connected;  // with a data target
    HRESULT expected;
    DWORD rate;
    WORD bits;
    WORD channels;
    friend void PrintTo(const PropertyCase& c, std::ostream* os) {
        for (const char16_t* p : {c.name, u"=", c.value})
            for (; *p; ++p) *os << static_cast<char>(*p);
    }
};

class Properties : public Recorder, public ::testing::WithParamInterface<PropertyCase> {};

// Targets always hear mono, and while they are connected, the format they
// were connected at.
TEST_P(Properties, SetTheCaptureFormatOrChangeNothing) {
    const PropertyCase& c = GetParam();
    if (!c.connected) {
        ASSERT_EQ(recorder->RemoveDataTarget(target->identity()), S_OK);
    }
    const kc::OleString name(c.name, c.name + std::char_traits<char16_t>::length(c.name));
    const kc::OleString value(c.value, c.value + std::char_traits<char16_t>::length(c.value));
    EXPECT_EQ(api(recorder.get())->SetProperty(name.c_str(), value.c_str()), c.expected);
    if (FAILED(c.expected)) {
        EXPECT_NE(kvtest::lastError().find("cannot set"), std::string::npos);
    }
    const WAVEFORMATEX f = recorder->captureFormat();
    EXPECT_EQ(f.nSamplesPerSec, c.rate);
    EXPECT_EQ(f.wBitsPerSample, c.bits);
    EXPECT_EQ(f.nChannels, c.channels);
    EXPECT_EQ(f.nBlockAlign, c.channels * c.bits / 8);
    EXPECT_EQ(f.nAvgBytesPerSec, c.rate * f.nBlockAlign);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Properties,
    ::testing::Values(PropertyCase{u"SamplesPerSec", u"16000", true, S_OK, 16000, 16, 1},
                      PropertyCase{u"BitsPerSample", u"16", true, S_OK, 16000, 16, 1},
                      PropertyCase{u"Channels", u"1", true, S_OK, 16000, 16, 1},
                      PropertyCase{u"SamplesPerSec", u"8000", true, kc::E_KV_FORMAT_FIXED, 16000, 16, 1},
                      PropertyCase{u"BitsPerSample", u"8", true, kc::E_KV_FORMAT_FIXED, 16000, 16, 1},
                      PropertyCase{u"Channels", u"2", true, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"Channels", u"2", false, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"SamplesPerSec", u"44100", false, S_OK, 44100, 16, 1},
                      PropertyCase{u"SamplesPerSec", u"8000", false, S_OK, 8000, 16, 1},
                      PropertyCase{u"BitsPerSample", u"8", false, S_OK, 16000, 8, 1},
                      PropertyCase{u"SamplesPerSec", u"7999", false, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"SamplesPerSec", u"", false, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"SamplesPerSec", u"-16000", false, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"SamplesPerSec", u" 16000", false, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"SamplesPerSec", u"16k", false, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"SamplesPerSec", u"4294983296", false, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"BitsPerSample", u"24", false, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"Channels", u"0", false, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"samplespersec", u"8000", false, E_INVALIDARG, 16000, 16, 1},
                      PropertyCase{u"Volume", u"1", false, E_INVALIDARG, 16000, 16, 1}));

TEST_F(Recorder, RefusesNullProperties) {
    EXPECT_EQ(api(recorder.get())->SetProperty(nullptr, KV_W("1")), E_POINTER);
    EXPECT_EQ(api(recorder.get())->SetProperty(KV_W("Channels"), nullptr), E_POINTER);
}

// ---- data targets -------------------------------------------------------------

TEST_F(Recorder, KeepsOneEntryPerTargetPointer) {
    const auto file = dir.write("in.wav", pcmWave(1, 16000, 16, samples16(noise(640))));
    EXPECT_EQ(recorder->AddDataTarget(target->identity()), S_FALSE);
    EXPECT_EQ(recorder->dataTargetCount(), 1u);
    ASSERT_EQ(capture(file), S_OK);
    EXPECT_EQ(target->calls.size(), 2u) << "one delivery per chunk, not one per AddDataTarget";

    EXPECT_EQ(recorder->RemoveDataTarget(target->identity()), S_OK);
    EXPECT_EQ(recorder->RemoveDataTarget(target->identity()), S_FALSE);
    EXPECT_EQ(recorder->RemoveDataTarget(nullptr), S_FALSE);
    target->calls.clear();
    // Nothing would hear it: said, and the way out named.
    EXPECT_EQ(capture(file), kc::E_KV_NO_TARGET);
    EXPECT_NE(kvtest::lastError().find("\"KvCom.KvAudio.KvAudioRecorder\""), std::string::npos);
    EXPECT_EQ(recorder->Start(), kc::E_KV_NO_TARGET);
    EXPECT_TRUE(target->calls.empty());
}

TEST_F(Recorder, RefusesTargetsThatCannotTakeAudio) {
    auto sink = kv::com::make<kc::CKvMemorySink>();
    EXPECT_EQ(recorder->AddDataTarget(sink->identity()), E_NOINTERFACE);
    EXPECT_EQ(recorder->AddDataTarget(nullptr), E_POINTER);
    EXPECT_EQ(recorder->dataTargetCount(), 1u);
}

TEST_F(Recorder, DoesNotKeepItsTargetsAlive) {
    bool destroyed = false;
    auto other = kv::com::make<RecordingTarget>(&destroyed);
    ASSERT_EQ(recorder->AddDataTarget(other->identity()), S_OK);
    ASSERT_EQ(recorder->RemoveDataTarget(other->identity()), S_OK);
    other.reset();
    EXPECT_TRUE(destroyed);
}

TEST_F(Recorder, GivesEveryTargetTheBytesAsRead) {
    auto second = kv::com::make<RecordingTarget>();
    ASSERT_EQ(recorder->AddDataTarget(second->identity()), S_OK);
    target->scribble = true;
    const Bytes data = samples16(noise(500));
    ASSERT_EQ(capture(dir.write("in.wav", pcmWave(1, 16000, 16, data)), 333), S_OK);
    EXPECT_EQ(target->joined(), data);
    EXPECT_EQ(second->joined(), data);
}

TEST_F(Recorder, LetsTargetsLeaveAndJoinDuringACapture) {
    // 2000 bytes in chunks of 100: 20 chunks.
    const auto file = dir.write("in.wav", pcmWave(1, 16000, 16, samples16(noise(1000))));
    auto leaver = kv::com::make<RecordingTarget>();
    auto removed = kv::com::make<RecordingTarget>();
    auto joiner = kv::com::make<RecordingTarget>();
    ASSERT_EQ(recorder->AddDataTarget(leaver->identity()), S_OK);
    ASSERT_EQ(recorder->AddDataTarget(removed->identity()), S_OK);
    // `target` (first in order) takes `removed` off and adds `joiner` in the
    // third chunk; `leaver` takes itself off in its fifth.
    target->onData = [&](RecordingTarget& self) {
        if (self.calls.size() != 3) return;
        EXPECT_EQ(recorder->RemoveDataTarget(removed->identity()), S_OK);
        EXPECT_EQ(recorder->AddDataTarget(joiner->identity()), S_OK);
    };
    leaver->onData = [&](RecordingTarget& self) {
        if (self.calls.size() == 5) {
            EXPECT_EQ(recorder->RemoveDataTarget(self.identity()), S_OK);
        }
    };
    ASSERT_EQ(capture(file, 100), S_OK);
    EXPECT_EQ(target->calls.size(), 20u);
    EXPECT_EQ(leaver->calls.size(), 5u);
    EXPECT_EQ(removed->calls.size(), 2u) << "taken off before its turn in the third chunk";
    EXPECT_EQ(joiner->calls.size(), 17u) << "joins from the chunk after it was added";
}

TEST_F(Recorder, HoldsATargetWhoseOwnerLetsGoDuringTheCall) {
    // Like an encoder whose client releases it from inside a sink: the last
    // outside reference goes during OnAudioData, and the object takes itself
    // off the recorder when it is destroyed.
    bool destroyed = false;
    int callsSeen = 0;
    auto owned = kv::com::make<RecordingTarget>(&destroyed);
    RecordingTarget* raw = owned.get();
    ASSERT_EQ(recorder->AddDataTarget(raw->identity()), S_OK);
    raw->onData = [&, owner = std::make_shared<ComPtr<RecordingTarget>>(std::move(owned))](RecordingTarget& self) {
        ++callsSeen;
        EXPECT_EQ(recorder->RemoveDataTarget(self.identity()), S_OK);
        owner->reset();
        EXPECT_FALSE(destroyed) << "the recorder holds it until the call returns";
        self.calls.push_back({});  // touches the object after its owner let go
    };
    ASSERT_EQ(capture(dir.write("in.wav", pcmWave(1, 16000, 16, samples16(noise(1000)))), 100), S_OK);
    EXPECT_EQ(callsSeen, 1);
    EXPECT_TRUE(destroyed);
}

TEST_F(Recorder, OutlivesItsLastReferenceDroppedDuringACapture) {
    const auto file = dir.write("in.wav", pcmWave(1, 16000, 16, samples16(noise(1000))));
    kc::CKvAudioRecorder* raw = recorder.get();
    ComPtr<kc::CKvAudioRecorder> held = std::move(recorder);
    target->onData = [&](RecordingTarget& self) {
        if (self.calls.size() == 2) held.reset();
    };
    EXPECT_EQ(api(raw)->CaptureFile(ole(file).c_str(), 100), S_OK);
    EXPECT_EQ(target->calls.size(), 20u);
}

// ---- the input device ---------------------------------------------------------

// Stands in for the device: remembers how it was opened and plays, on stop,
// whatever the test left in `tail`.
struct DeviceLog {
    HRESULT startResult = S_OK;
    bool recording = false;
    int starts = 0, stops = 0;
    WAVEFORMATEX format{};
    kc::CaptureListener* listener = nullptr;
    Bytes tail;
};

class FakeDevice final : public kc::CaptureDevice {
public:
    explicit FakeDevice(DeviceLog& log) : m_log(log) {}
    HRESULT start(const WAVEFORMATEX& format, kc::CaptureListener& listener) override {
        ++m_log.starts;
        if (FAILED(m_log.startResult)) return m_log.startResult;
        m_log.format = format;
        m_log.listener = &listener;
        m_log.recording = true;
        return S_OK;
    }
    HRESULT stop() override {
        if (!m_log.recording) return S_FALSE;
        ++m_log.stops;
        if (!m_log.tail.empty()) m_log.listener->onCapturedPcm(m_log.tail.data(), m_log.tail.size());
        m_log.recording = false;
        return S_OK;
    }
    bool recording() const override { return m_log.recording; }

private:
    DeviceLog& m_log;
};

TEST_F(Recorder, RecordsFromTheDeviceIntoEveryTargetUntilStoppedOrReleased) {
    DeviceLog log;
    auto live = kv::com::make<kc::CKvAudioRecorder>(std::make_unique<FakeDevice>(log));
    auto other = kv::com::make<RecordingTarget>();
    ASSERT_EQ(api(live.get())->SetProperty(KV_W("SamplesPerSec"), KV_W("8000")), S_OK);
    ASSERT_EQ(live->AddDataTarget(target->identity()), S_OK);
    ASSERT_EQ(live->AddDataTarget(other->identity()), S_OK);

    ASSERT_EQ(live->Start(), S_OK);
    EXPECT_EQ(live->Start(), S_FALSE) << "already recording";
    EXPECT_EQ(log.format.nSamplesPerSec, 8000u) << "opened at the capture format";
    EXPECT_EQ(log.format.wBitsPerSample, 16);
    EXPECT_EQ(api(live.get())->SetProperty(KV_W("SamplesPerSec"), KV_W("16000")), kc::E_KV_RECORDING);
    EXPECT_EQ(live->captureFormat().nSamplesPerSec, 8000u);
    const auto wav = dir.write("a.wav", pcmWave(1, 8000, 16, samples16(noise(100))));
    EXPECT_EQ(api(live.get())->CaptureFile(ole(wav).c_str(), 640), kc::E_KV_RECORDING);

    // Each buffer goes out whole, to every target, each its own copy.
    const Bytes buffer = samples16(noise(300, 7));
    Bytes scratch = buffer;
    target->scribble = true;
    log.listener->onCapturedPcm(scratch.data(), scratch.size());
    log.tail = samples16(noise(10, 9));
    EXPECT_EQ(live->Stop(), S_OK);
    EXPECT_EQ(live->Stop(), S_FALSE);
    for (RecordingTarget* t : {target.get(), other.get()}) {
        EXPECT_EQ(t->calls, (std::vector<Bytes>{buffer, log.tail})) << "the buffer, then what Stop handed back";
        EXPECT_EQ(t->flushes, 1) << "and then what the target held";
    }

    // The final release stops the device; what it hands back then goes nowhere.
    ASSERT_EQ(live->Start(), S_OK);
    live.reset();
    EXPECT_FALSE(log.recording);
    EXPECT_EQ(log.stops, 2);
    EXPECT_EQ(other->calls.size(), 2u);
}

TEST_F(Recorder, StartWithoutADeviceIsAnErrorWithADescription) {
    DeviceLog log;
    log.startResult = kc::makeError(0x8007048F);
    auto live = kv::com::make<kc::CKvAudioRecorder>(std::make_unique<FakeDevice>(log));
    ASSERT_EQ(live->AddDataTarget(target->identity()), S_OK);
    EXPECT_EQ(live->Start(), log.startResult);
    ComPtr<IErrorInfo> error;
    ASSERT_EQ(GetErrorInfo(0, error.put()), S_OK);
    BSTR text = nullptr;
    ASSERT_EQ(error->GetDescription(&text), S_OK);
    EXPECT_NE(kc::OleString(text).find(KV_W("no audio input device")), kc::OleString::npos);
    SysFreeString(text);
    EXPECT_EQ(api(live.get())->SetProperty(KV_W("Channels"), KV_W("1")), S_OK) << "nothing is left recording";
}

}  // namespace
