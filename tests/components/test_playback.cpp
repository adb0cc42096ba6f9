// The data targets of decoded PCM: the player over a scripted device (the
// real waveOut is played through under Wine, test_capture_device_win32.cpp), and
// the WAVE file target read back by the capture component's reader.
#include <deque>

#include "com/Bstr.h"
#include "components/PcmFile.h"
#include "components/Player.h"
#include "components/WavFileTarget.h"
#include "tests/com/last_error.h"
#include "tests/components/helpers.h"

using namespace kvtest;
namespace kc = kv::components;

namespace {

// Plays a buffer whenever the player waits for it, unless stalled.
struct ScriptedDevice : kc::PlaybackDevice {
    HRESULT open(const WAVEFORMATEX& f, kc::PlaybackListener& l) override {
        if (FAILED(openResult)) return openResult;
        format = f;
        listener = &l;
        return S_OK;
    }
    bool isOpen() const override { return listener != nullptr; }
    std::size_t bufferBytes() const override { return 100; }
    int freeBuffers() const override { return 2 - static_cast<int>(queued.size()); }
    bool playing() const override { return !queued.empty(); }
    HRESULT play(const BYTE* pcm, std::size_t bytes) override {
        EXPECT_TRUE(bytes > 0 && bytes <= bufferBytes() && freeBuffers() > 0);
        if (SUCCEEDED(playResult)) queued.emplace_back(pcm, pcm + bytes);
        return playResult;
    }
    HRESULT wait(DWORD) override {
        if (stalled || queued.empty()) return S_FALSE;
        append(played, queued.front());
        queued.pop_front();
        listener->onBufferPlayed();
        return S_OK;
    }
    HRESULT close() override {
        listener = nullptr;
        queued.clear();
        return S_OK;
    }

    HRESULT openResult = S_OK, playResult = S_OK;
    bool stalled = false;
    WAVEFORMATEX format{};
    kc::PlaybackListener* listener = nullptr;
    std::deque<Bytes> queued;
    Bytes played;
};

class DataTargets : public ComponentsTest {};

// What either target answers at its edges, from an open target at 8000 Hz,
// with the words that say why; nullptr: not a case of that target.
TEST_F(DataTargets, RefuseWhatTheyCannotTakeWithWords) {
    const std::size_t limit = 8000 * 2 * kc::CKvPlayer::kQueueSeconds, held = 2 * 100;
    struct Subject {
        std::function<HRESULT()> open, close;
        IKvAudioDataTarget* target;
        std::function<HRESULT(LONG)> setRate;
    };
    Bytes data(limit + held + 1000, 1);
    const auto push = [&](Subject& s, LONG n) { return s.target->OnAudioData(data.data(), n); };
    const struct {
        const char* what;
        std::function<HRESULT(Subject&, ScriptedDevice&)> act;
        HRESULT player;
        const char* playerWords;
        HRESULT wav;
        const char* wavWords;
    } rows[] = {
        {"odd length", [&](Subject& s, auto&) { return push(s, 3); }, E_INVALIDARG,
         "cannot play 3 bytes of samples: an odd length", E_INVALIDARG,
         "cannot write 3 bytes of samples: an odd length"},
        {"negative length", [&](Subject& s, auto&) { return push(s, -2); }, E_INVALIDARG, "a negative length",
         E_INVALIDARG, "a negative length"},
        {"rate while open", [](Subject& s, auto&) { return s.setRate(16000); }, kc::E_KV_ALREADY_OPEN,
         "cannot set SampleRate to 16000: the device plays at the rate it was opened with", kc::E_KV_ALREADY_OPEN,
         "the open file's header declares the rate it was opened with"},
        {"rate out of range", [](Subject& s, auto&) { return s.setRate(3999); }, E_INVALIDARG, "8000 to 48000",
         E_INVALIDARG, "4000 to 384000"},
        {"open twice", [](Subject& s, auto&) { return s.open(); }, kc::E_KV_ALREADY_OPEN, "it is open already",
         E_UNEXPECTED, "is open already"},
        {"data when closed", [&](Subject& s, auto&) { return s.close(), push(s, 2); }, kc::E_KV_NOT_OPEN,
         "the player is not open", kc::E_KV_NOT_OPEN, "no file is open"},
        {"close twice", [](Subject& s, auto&) { return s.close(), s.close(); }, kc::E_KV_NOT_OPEN,
         "cannot close: the player is not open", kc::E_KV_NOT_OPEN, "cannot close: no file is open"},
        {"a rate the device refuses",
         [](Subject& s, ScriptedDevice& d) {
             d.openResult = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
             return s.close(), s.open();
         },
         HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), "does not play 16-bit mono at 8000 Hz", S_OK, nullptr},
        {"past the queue's bound, the device stalled",
         [&](Subject& s, ScriptedDevice& d) {
             d.stalled = true;
             return push(s, static_cast<LONG>(data.size()));
         },
         kc::E_KV_PLAYER_STALLED, "played nothing for 5000 ms; 160000 of them were queued (the rest were not", S_OK,
         nullptr},
        {"stalled at Close",
         [&](Subject& s, ScriptedDevice& d) {
             d.stalled = true;
             return push(s, 1000), s.close();
         },
         kc::E_KV_PLAYER_STALLED, "closed with 800 queued bytes unplayed", S_OK, nullptr},
        {"the device fails",
         [&](Subject& s, ScriptedDevice& d) {
             d.playResult = E_FAIL;
             return push(s, 2);
         },
         E_FAIL, "failed (0x80004005); 2 of them were queued, and the player was closed with 2 queued bytes unplayed",
         S_OK, nullptr},
    };
    TempDir dir;
    const kv::com::Bstr path(ole(dir.path() / "out.wav").c_str());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto device = std::make_shared<ScriptedDevice>();
        auto player = kv::com::make<kc::CKvPlayer>(device);
        auto wav = kv::com::make<kc::CKvWavFileTarget>();
        ASSERT_EQ(player->put_SampleRate(8000), S_OK);
        ASSERT_EQ(wav->put_SampleRate(8000), S_OK);
        ASSERT_EQ(player->Open(), S_OK);
        ASSERT_EQ(wav->Open(path.get()), S_OK);
        Subject players{[&] { return player->Open(); }, [&] { return player->Close(); }, player.get(),
                        [&](LONG r) { return player->put_SampleRate(r); }};
        Subject wavs{[&] { return wav->Open(path.get()); }, [&] { return wav->Close(); }, wav.get(),
                     [&](LONG r) { return wav->put_SampleRate(r); }};
        EXPECT_EQ(row.act(players, *device), row.player);
        std::string words = lastError();
        EXPECT_NE(words.find(row.playerWords), std::string::npos) << words;
        if (row.wavWords) {
            EXPECT_EQ(row.act(wavs, *device), row.wav);
            words = lastError();
            EXPECT_NE(words.find(row.wavWords), std::string::npos) << words;
        }
    }
}

// More than the queue holds, in one call and in pieces: the call waits while
// the device plays, and every sample is played once, in order.
TEST_F(DataTargets, ThePlayerPlaysEverythingItIsGiven) {
    auto device = std::make_shared<ScriptedDevice>();
    auto player = kv::com::make<kc::CKvPlayer>(device);
    ASSERT_EQ(player->put_SampleRate(8000), S_OK);
    ASSERT_EQ(player->Open(), S_OK);
    // Copies: the platform's WAVEFORMATEX is packed.
    EXPECT_EQ(DWORD{device->format.nSamplesPerSec}, 8000u);
    EXPECT_EQ(WORD{device->format.wBitsPerSample}, 16);
    Bytes pcm;
    for (std::size_t i = 0; i < 3 * player->queueLimit() / 2; ++i) put16(pcm, static_cast<unsigned>(i * 7919));
    const std::size_t pieces[] = {0, 2, 98, 202, pcm.size() / 2 - 302, pcm.size() / 2};
    for (std::size_t at = 0, i = 0; i < std::size(pieces); at += pieces[i++])
        ASSERT_EQ(player->OnAudioData(pcm.data() + at, static_cast<LONG>(pieces[i])), S_OK);
    EXPECT_LE(player->queuedBytes(), player->queueLimit());
    EXPECT_LT(device->played.size(), pcm.size()) << "Close plays out the rest";
    EXPECT_EQ(player->Close(), S_OK);
    EXPECT_EQ(device->played, pcm);
    EXPECT_FALSE(device->isOpen());
}

// What the target wrote reads back as the same samples at its rate; until
// Close (or a release while open) the file it replaces stays as it was, and
// no capture may take it as input.
TEST(WavFileTarget, WritesAWaveFileThatReadsBack) {
    TempDir dir;
    const auto path = dir.path() / "out.wav";
    const kv::com::Bstr name(ole(path).c_str());
    Bytes pcm;
    for (int i = 0; i < 3000; ++i) put16(pcm, static_cast<unsigned>(i * 40503));
    for (const bool release : {false, true}) {
        dir.write("out.wav", Bytes(10, 0x55));
        auto wav = kv::com::make<kc::CKvWavFileTarget>();
        ASSERT_EQ(wav->put_SampleRate(11025), S_OK);
        ASSERT_EQ(wav->Open(name.get()), S_OK);
        EXPECT_TRUE(kc::replacedByOpenFileSink(path));
        ASSERT_EQ(wav->OnAudioData(pcm.data(), 1000), S_OK);
        ASSERT_EQ(wav->OnAudioData(nullptr, 0), S_OK);
        ASSERT_EQ(wav->OnAudioData(pcm.data() + 1000, static_cast<LONG>(pcm.size() - 1000)), S_OK);
        LONG written = 0;
        EXPECT_EQ(wav->get_BytesWritten(&written), S_OK);
        EXPECT_EQ(written, static_cast<LONG>(pcm.size()));
        EXPECT_EQ(readFile(path), Bytes(10, 0x55));
        if (release) {
            wav.reset();
        } else {
            EXPECT_EQ(wav->Close(), S_OK);
        }
        EXPECT_FALSE(kc::replacedByOpenFileSink(path));

        kc::PcmReader reader;
        ASSERT_EQ(reader.open(path, 16000), S_OK);
        const WAVEFORMATEX& f = reader.layout().format;
        EXPECT_EQ(DWORD{f.nSamplesPerSec}, 11025u);
        EXPECT_EQ(WORD{f.nChannels}, 1);
        EXPECT_EQ(WORD{f.wBitsPerSample}, 16);
        EXPECT_EQ(reader.layout().claimedBytes, pcm.size()) << "the header tells the length";
        Bytes back(pcm.size() + 2);
        std::size_t got = 0;
        ASSERT_EQ(reader.read(back.data(), back.size(), got), S_OK);
        back.resize(got);
        EXPECT_EQ(back, pcm);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "nothing beside it";
    }
}

}  // namespace
