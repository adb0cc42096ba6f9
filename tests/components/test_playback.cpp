// The data targets side by side: the player over a scripted device (the real
// waveOut is in test_capture_device_win32.cpp), and the WAVE file target.
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

// Two buffers of 100 bytes; plays one whenever the player waits.
struct ScriptedDevice : kc::PlaybackDevice {
    HRESULT open(const WAVEFORMATEX& f, kc::PlaybackListener& l) override { return format = f, listener = &l, S_OK; }
    bool isOpen() const override { return listener != nullptr; }
    std::size_t bufferBytes() const override { return 100; }
    int freeBuffers() const override { return 2 - static_cast<int>(queued.size()); }
    bool playing() const override { return !queued.empty(); }
    HRESULT play(const BYTE* pcm, std::size_t bytes) override {
        EXPECT_TRUE(bytes > 0 && bytes <= bufferBytes() && freeBuffers() > 0);
        if (mode != 'f') queued.emplace_back(pcm, pcm + bytes);
        return mode == 'f' ? E_FAIL : S_OK;
    }
    HRESULT wait(DWORD) override {
        if (mode == 's' || queued.empty()) return S_FALSE;
        append(played, queued.front());
        queued.pop_front();
        return listener->onBufferPlayed(), S_OK;
    }
    HRESULT close() override { return listener = nullptr, queued.clear(), S_OK; }

    char mode = ' ';  // plays; 'f' fails to play, 's' stalls
    WAVEFORMATEX format{};
    kc::PlaybackListener* listener = nullptr;
    std::deque<Bytes> queued;
    Bytes played;
};

// One step on an open target (see the table below).
template <class Target>
HRESULT act(Target& t, char op, Bytes& data) {
    const auto push = [&](std::size_t at, std::size_t n) { return t.OnAudioData(&data[at], static_cast<LONG>(n)); };
    if (op == 'o') return push(0, 3);
    if (op == 'r') return t.put_SampleRate(16000);
    if (op == 'd') return t.Close(), push(0, 2);
    if (op == 'b') return push(0, data.size());
    if (op == '2') return push(0, 2);
    // All of it, in pieces of every kind; closed, or ('P') left to the release.
    const std::size_t half = data.size() / 2, pieces[] = {0, 2, 98, 202, half - 302, half};
    HRESULT hr = S_OK;
    for (std::size_t at = 0, i = 0; i < std::size(pieces); at += pieces[i++]) hr |= push(at, pieces[i]);
    return op == 'p' ? hr | t.Close() : hr;
}

class DataTargets : public ComponentsTest {};

// What either target answers, from open at 8000 Hz, with the words that say
// why (nullptr: not a case of the WAVE file target). Past the queue's bound a
// call waits while the device plays; given everything, closed or released,
// the player plays every sample once, in order, and the WAVE file reads back
// as the same samples at its rate.
TEST_F(DataTargets, TakeWhatTheyAreGivenAndRefuseWithWords) {
    const struct {
        char op, device;  // the device's mode
        HRESULT player;
        const char* playerWords;
        HRESULT wav;
        const char* wavWords;
    } rows[] = {
        {'p', ' ', S_OK, "", S_OK, ""},
        {'P', ' ', S_OK, "", S_OK, ""},
        {'o', ' ', E_INVALIDARG, "play 3 bytes of samples: an odd length", E_INVALIDARG, "3 bytes of samples: an odd"},
        {'r', ' ', kc::E_KV_ALREADY_OPEN, "16000: the device plays at the rate", kc::E_KV_ALREADY_OPEN,
         "header declares"},
        {'d', ' ', kc::E_KV_NOT_OPEN, "the player is not open", kc::E_KV_NOT_OPEN, "no file is open"},
        {'b', 's', kc::E_KV_PLAYER_STALLED, "nothing for 5000 ms; 160000 of them were queued (the rest", S_OK, nullptr},
        {'2', 'f', E_FAIL, "failed (0x80004005); 2 of them were queued, and the player was closed", S_OK, nullptr},
    };
    TempDir dir;
    const auto file = dir.write("out.wav", {});
    const kv::com::Bstr path(ole(file).c_str());
    Bytes data;
    for (std::size_t i = 0; i < 8000 * 3 / 2 * kc::CKvPlayer::kQueueSeconds; ++i)
        put16(data, static_cast<unsigned>(i * 7919));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.op);
        auto device = std::make_shared<ScriptedDevice>();
        auto player = kv::com::make<kc::CKvPlayer>(device);
        auto wav = kv::com::make<kc::CKvWavFileTarget>();
        ASSERT_EQ(player->put_SampleRate(8000) | player->Open(), S_OK);
        ASSERT_EQ(wav->put_SampleRate(8000) | wav->Open(path.get()), S_OK);
        device->mode = row.device;
        const auto saysWhy = [](const char* words) { return lastError().find(words) != std::string::npos; };
        EXPECT_EQ(act(*player, row.op, data), row.player);
        EXPECT_TRUE(saysWhy(row.playerWords)) << row.playerWords;
        if (!row.wavWords) continue;
        EXPECT_EQ(act(*wav, row.op, data), row.wav);
        EXPECT_TRUE(saysWhy(row.wavWords)) << row.wavWords;
        if (std::tolower(row.op) != 'p') continue;
        player.reset();
        wav.reset();
        EXPECT_EQ(DWORD{device->format.nSamplesPerSec}, 8000u);  // copies: the platform's WAVEFORMATEX is packed
        EXPECT_EQ(device->played, data);
        kc::PcmReader reader;
        ASSERT_EQ(reader.open(file, 16000), S_OK);
        const WAVEFORMATEX& f = reader.layout().format;
        EXPECT_TRUE(f.nSamplesPerSec == 8000 && f.nChannels == 1 && f.wBitsPerSample == 16);
        EXPECT_EQ(reader.layout().claimedBytes, data.size()) << "the header tells the length";
        Bytes back(data.size() + 2);
        std::size_t got = 0;
        ASSERT_EQ(reader.read(back.data(), back.size(), got), S_OK);
        EXPECT_EQ(Bytes(back.begin(), back.begin() + static_cast<std::ptrdiff_t>(got)), data);
    }
}

}  // namespace
