// The waveIn capture device. Over a scripted waveIn: buffers come back through
// the window messages, in order, on the thread that started the recording,
// and every way of failing leaves nothing open. Over the real waveIn (when
// the runner put a raw file behind the default ALSA device, and names it in
// KV_WAVEIN_RAW): the file's samples arrive, and encode as the file does.
// Over the real waveOut (the runner's plugin appends what the default ALSA
// device plays to KV_WAVEOUT_RAW): the player plays those samples as given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <thread>
#include <utility>

#include "components/Player.h"
#include "components/Sinks.h"
#include "components/WaveIn_win32.h"
#include "tests/components/helpers.h"
#include "tests/server/linked_classes.h"

using namespace kvtest;
namespace kc = kv::components;

namespace {

// ---- a scripted waveIn -------------------------------------------------------

struct Script {
    UINT devices = 1;
    MMRESULT openResult = MMSYSERR_NOERROR;
    int failingAdd = 0;  // the n-th waveInAddBuffer (1-based) answers addResult
    MMRESULT addResult = MMSYSERR_NOERROR;

    HWND window = nullptr;
    bool open = false;
    int adds = 0, prepared = 0, resets = 0;
    std::deque<WAVEHDR*> queue;
};
Script g;
const HWAVEIN kHandle = reinterpret_cast<HWAVEIN>(0x5EA1);

void giveBack(WAVEHDR* h) {
    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    PostMessageW(g.window, MM_WIM_DATA, reinterpret_cast<WPARAM>(kHandle), reinterpret_cast<LPARAM>(h));
}

UINT WINAPI fakeNumDevs() { return g.devices; }
MMRESULT WINAPI fakeOpen(LPHWAVEIN wave, UINT id, LPCWAVEFORMATEX, DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    if (g.openResult != MMSYSERR_NOERROR) return g.openResult;
    EXPECT_EQ(id, WAVE_MAPPER);
    EXPECT_EQ(flags, DWORD{CALLBACK_WINDOW});
    g.window = reinterpret_cast<HWND>(callback);
    g.open = true;
    *wave = kHandle;
    PostMessageW(g.window, MM_WIM_OPEN, reinterpret_cast<WPARAM>(kHandle), 0);
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakePrepare(HWAVEIN, LPWAVEHDR h, UINT) {
    h->dwFlags |= WHDR_PREPARED;
    ++g.prepared;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeUnprepare(HWAVEIN, LPWAVEHDR h, UINT) {
    EXPECT_FALSE(h->dwFlags & WHDR_INQUEUE);
    h->dwFlags &= ~WHDR_PREPARED;
    --g.prepared;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeAdd(HWAVEIN, LPWAVEHDR h, UINT) {
    if (++g.adds == g.failingAdd) return g.addResult;
    EXPECT_TRUE(h->dwFlags & WHDR_PREPARED);
    h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    g.queue.push_back(h);
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeStart(HWAVEIN) { return MMSYSERR_NOERROR; }
MMRESULT WINAPI fakeReset(HWAVEIN) {
    ++g.resets;
    for (WAVEHDR* h : g.queue) giveBack(h);
    g.queue.clear();
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI fakeClose(HWAVEIN) {
    EXPECT_TRUE(g.queue.empty());
    g.open = false;
    PostMessageW(g.window, MM_WIM_CLOSE, reinterpret_cast<WPARAM>(kHandle), 0);
    return MMSYSERR_NOERROR;
}
const kc::WaveInApi kScripted{&fakeNumDevs, &fakeOpen,  &fakePrepare, &fakeUnprepare,
                              &fakeAdd,     &fakeStart, &fakeReset,   &fakeClose};

// Records into the queued buffers from a thread of its own, as winmm does,
// handing back each buffer it fills; returns how many bytes it took.
std::size_t recordOnAnotherThread(const Bytes& pcm, std::size_t from) {
    std::size_t at = from;
    std::thread([&] {
        while (at < pcm.size() && !g.queue.empty()) {
            WAVEHDR* h = g.queue.front();
            const std::size_t n = std::min<std::size_t>(h->dwBufferLength - h->dwBytesRecorded, pcm.size() - at);
            std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(at), n, h->lpData + h->dwBytesRecorded);
            h->dwBytesRecorded += static_cast<DWORD>(n);
            at += n;
            if (h->dwBytesRecorded == h->dwBufferLength) {
                g.queue.pop_front();
                giveBack(h);
            }
        }
    }).join();
    return at - from;
}

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

struct Listener : kc::CaptureListener {
    void onCapturedPcm(const BYTE* pcm, std::size_t bytes) override {
        EXPECT_EQ(GetCurrentThreadId(), thread);
        chunks.push_back(bytes);
        data.insert(data.end(), pcm, pcm + bytes);
    }
    void onCaptureFailed(HRESULT why) override {
        EXPECT_EQ(GetCurrentThreadId(), thread);
        failure = why;
    }
    DWORD thread = GetCurrentThreadId();
    std::vector<std::size_t> chunks;
    Bytes data;
    HRESULT failure = S_OK;
};

WAVEFORMATEX pcmFormat(DWORD rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = rate * 2;
    return f;
}

TEST(WaveInDevice, DeliversInOrderOnTheStartingThreadAndLeavesNothingOpen) {
    // 8 kHz 16-bit: 640-byte buffers. 2000 bytes fill three and part of a
    // fourth, which only stop (or a failure) hands over.
    const std::size_t kBuffer = 640;
    Bytes pcm;
    for (int i = 0; i < 1000; ++i) put16(pcm, static_cast<unsigned>(i * 7919));
    const HRESULT kNoDevice = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    struct Row {
        const char* what;
        UINT devices;
        MMRESULT openResult;
        int failingAdd;
        MMRESULT addResult;
        HRESULT started;  // what start answers
        HRESULT failure;  // what onCaptureFailed is told while recording
    } rows[] = {
        {"records", 1, MMSYSERR_NOERROR, 0, 0, S_OK, S_OK},
        {"no input device", 0, MMSYSERR_NOERROR, 0, 0, kNoDevice, S_OK},
        {"no driver", 1, MMSYSERR_NODRIVER, 0, 0, kNoDevice, S_OK},
        {"device gone", 1, MMSYSERR_BADDEVICEID, 0, 0, kNoDevice, S_OK},
        {"format refused", 1, WAVERR_BADFORMAT, 0, 0, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), S_OK},
        {"device in use", 1, MMSYSERR_ALLOCATED, 0, 0, HRESULT_FROM_WIN32(ERROR_BUSY), S_OK},
        {"third buffer refused", 1, MMSYSERR_NOERROR, 3, MMSYSERR_NOMEM, E_OUTOFMEMORY, S_OK},
        {"re-adding refused", 1, MMSYSERR_NOERROR, kc::kWaveInBuffers + 1, MMSYSERR_ERROR, S_OK,
         HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        g = Script{};
        g.devices = row.devices;
        g.openResult = row.openResult;
        g.failingAdd = row.failingAdd;
        g.addResult = row.addResult;
        Listener listener;
        auto device = kc::makeWaveInDevice(kScripted);

        ASSERT_EQ(device->start(pcmFormat(8000), listener), row.started);
        if (SUCCEEDED(row.started)) {
            EXPECT_TRUE(device->recording());
            EXPECT_EQ(device->start(pcmFormat(8000), listener), HRESULT_FROM_WIN32(ERROR_BUSY));
            HRESULT elsewhere = S_OK;
            std::thread([&] { elsewhere = device->stop(); }).join();
            EXPECT_EQ(elsewhere, RPC_E_WRONG_THREAD);
            EXPECT_EQ(g.queue.size(), std::size_t{kc::kWaveInBuffers});
            ASSERT_EQ(recordOnAnotherThread(pcm, 0), pcm.size());
            EXPECT_TRUE(listener.data.empty()) << "delivered outside the message loop";
            pump();
            if (row.failure == S_OK) {
                // The three full buffers came back and went out again.
                EXPECT_EQ(listener.chunks, (std::vector<std::size_t>{kBuffer, kBuffer, kBuffer}));
                EXPECT_EQ(g.adds, kc::kWaveInBuffers + 3);
                EXPECT_EQ(device->stop(), S_OK);
            }
            EXPECT_EQ(listener.failure, row.failure);
            EXPECT_EQ(listener.data, pcm);
            EXPECT_EQ(listener.chunks.back(), pcm.size() % kBuffer);
            EXPECT_EQ(g.resets, 1);
        } else {
            EXPECT_TRUE(listener.chunks.empty());
        }
        EXPECT_FALSE(device->recording());
        EXPECT_EQ(device->stop(), S_FALSE);
        EXPECT_FALSE(g.open);
        EXPECT_EQ(g.prepared, 0);
        EXPECT_TRUE(g.queue.empty());
        if (g.window) {
            EXPECT_FALSE(IsWindow(g.window));
        }
        pump();  // what is still posted for a closed device reaches nobody
        EXPECT_EQ(listener.data.size(), SUCCEEDED(row.started) ? pcm.size() : 0u);
    }
}

// A listener may stop the device, or drop the last reference to it (a sink
// that lets go of the recorder), from inside its call: the device is closed
// only as asked, and goes only once its window procedure is done with it.
TEST(WaveInDevice, SurvivesWhatTheListenerDoesToIt) {
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stopped" : "dropped");
        g = Script{};
        struct Rough : Listener {
            std::shared_ptr<kc::CaptureDevice> device;
            bool stop = false, acted = false, openAfter = false;
            void onCapturedPcm(const BYTE* pcm, std::size_t bytes) override {
                Listener::onCapturedPcm(pcm, bytes);
                if (std::exchange(acted, true)) return;
                if (stop) {
                    EXPECT_EQ(device->stop(), S_OK);
                } else {
                    device.reset();
                }
                openAfter = g.open;
            }
        } listener;
        listener.stop = stop;
        listener.device = kc::makeWaveInDevice(kScripted);
        auto held = stop ? listener.device : nullptr;
        ASSERT_EQ(listener.device->start(pcmFormat(8000), listener), S_OK);
        ASSERT_EQ(recordOnAnotherThread(Bytes(1000, 1), 0), 1000u);
        pump();
        EXPECT_EQ(listener.openAfter, !stop);
        // Stopped, the device hands over the partial second buffer; dropped, it is gone with it.
        EXPECT_EQ(listener.data.size(), stop ? 1000u : 640u);
        EXPECT_FALSE(g.open);
        EXPECT_EQ(g.prepared, 0);
    }
}

// ---- the real waveIn, with a raw file behind the default device -----------------

class WaveInFromFile : public ComponentsTest {
protected:
    void SetUp() override {
        ComponentsTest::SetUp();
        const char* raw = std::getenv("KV_WAVEIN_RAW");
        if (!raw) GTEST_SKIP() << "KV_WAVEIN_RAW names no file behind the default input device";
        file = readFile(raw);
        ASSERT_GT(file.size(), 16000u);
    }

    // Records at 16 kHz until the whole file and 100 ms more have come through.
    void capture(Listener& listener) {
        auto device = kc::makeCaptureDevice();
        ASSERT_EQ(device->start(pcmFormat(16000), listener), S_OK);
        const DWORD deadline = GetTickCount() + 30000;
        while (device->recording() && listener.data.size() < file.size() + 3200 && GetTickCount() < deadline) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            pump();
        }
        EXPECT_EQ(device->stop(), S_OK);
        EXPECT_EQ(listener.failure, S_OK);
    }

    Bytes file;
};

// The device starts with the file's first sample and goes on with silence
// once the file has ended.
TEST_F(WaveInFromFile, TheFileArrivesSampleForSample) {
    Listener listener;
    capture(listener);
    const Bytes& got = listener.data;
    ASSERT_GE(got.size(), file.size() + 3200);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), got.begin()));
    EXPECT_TRUE(
        std::all_of(got.begin() + static_cast<std::ptrdiff_t>(file.size()), got.end(), [](BYTE b) { return b == 0; }));
}

TEST_F(WaveInFromFile, AnEncoderOnTheDeviceCodesTheFile) {
    ASSERT_EQ(registerLinkedClasses(), S_OK);
    struct ToEncoder : Listener {
        void onCapturedPcm(const BYTE* pcm, std::size_t bytes) override {
            Listener::onCapturedPcm(pcm, bytes);
            Bytes copy(pcm, pcm + bytes);
            EXPECT_EQ(encoder->OnAudioData(copy.data(), static_cast<LONG>(bytes)), S_OK);
        }
        kv::com::ComPtr<IKvAudioEncoder> encoder;
        kv::com::ComPtr<kc::CKvMemorySink> sink = kv::com::make<kc::CKvMemorySink>();
    };
    ToEncoder fromDevice, fromFile;
    for (ToEncoder* to : {&fromDevice, &fromFile}) {
        ASSERT_EQ(CoCreateInstance(CLSID_KV_AudioG711A, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder,
                                   to->encoder.put_void()),
                  S_OK);
        ASSERT_EQ(to->encoder->AddSink(static_cast<IKvAudioSink*>(to->sink.get())), S_OK);
    }
    capture(fromDevice);
    // The file and the silence after it, in one piece.
    Bytes same = file;
    same.resize(std::max(file.size(), fromDevice.data.size()), 0);
    fromFile.onCapturedPcm(same.data(), same.size());
    EXPECT_GE(fromDevice.sink->bytes().size(), file.size() / 2 / 160 * 160);
    EXPECT_EQ(fromDevice.sink->bytes(), fromFile.sink->bytes());
    fromDevice.encoder.reset();
    fromFile.encoder.reset();
    revokeLinkedClasses();
}

// ---- the real waveOut, with a raw file behind the default playback device -------

// Wine opens ALSA at the player's format: the samples come through byte for byte.
// Whether the device played the given samples in order with nothing but
// silence added: before, after, or in a gap where Wine's mixer ran dry on a
// loaded machine.
bool playedWithSilence(const Bytes& given, const Bytes& played) {
    const auto sample = [](const Bytes& b, std::size_t i) { return b[2 * i] | b[2 * i + 1] << 8; };
    std::size_t j = 0;
    for (std::size_t i = 0; i < given.size() / 2; ++i, ++j) {
        while (j < played.size() / 2 && sample(played, j) != sample(given, i)) {
            if (sample(played, j++) != 0) return false;
        }
        if (j == played.size() / 2) return false;
    }
    for (; j < played.size() / 2; ++j) {
        if (sample(played, j) != 0) return false;
    }
    return true;
}

TEST(WaveOutToFile, ThePlayerPlaysTheSamplesAsGiven) {
    const char *in = std::getenv("KV_WAVEIN_RAW"), *out = std::getenv("KV_WAVEOUT_RAW");
    if (!in || !out) GTEST_SKIP() << "KV_WAVEOUT_RAW names no file behind the default output device";
    Bytes pcm = readFile(in);
    ASSERT_GT(pcm.size(), 16000u);
    const std::size_t before = readFile(out).size();
    auto player = kv::com::make<kc::CKvPlayer>();
    ASSERT_EQ(player->Open(), S_OK);
    for (std::size_t at = 0; at < pcm.size(); at += 960)  // 30 ms a call, as a G.723.1 decoder hands them over
        ASSERT_EQ(player->OnAudioData(pcm.data() + at, static_cast<LONG>(std::min<std::size_t>(960, pcm.size() - at))),
                  S_OK);
    EXPECT_EQ(player->Close(), S_OK);
    const Bytes all = readFile(out);
    const Bytes played(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    EXPECT_TRUE(playedWithSilence(pcm, played)) << played.size() << " bytes played, " << pcm.size() << " given";
}

}  // namespace
