// The default audio output through waveOut. Played buffers come back as
// window messages to a hidden window of the thread that opened the device,
// so the listener is only ever called on that thread, from its message loop
// or from wait.
#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "com/Barrier.h"
#include "components/MmWindow_win32.h"
#include "components/PlaybackDevice.h"

namespace kv::components {

namespace {

// Enough queued ahead that a message loop busy for a moment does not starve
// the device, little enough that Close and a stall are noticed soon.
constexpr int kBuffers = 8;
constexpr DWORD kBufferMs = 50;

class WaveOutDevice final : public PlaybackDevice,
                            private MmWindow,
                            public std::enable_shared_from_this<WaveOutDevice> {
public:
    ~WaveOutDevice() override { close(); }

    HRESULT open(const WAVEFORMATEX& format, PlaybackListener& listener) override;
    bool isOpen() const override { return m_wave != nullptr; }
    std::size_t bufferBytes() const override { return m_bufferBytes; }
    int freeBuffers() const override { return m_wave ? kBuffers - m_queued : 0; }
    bool playing() const override { return m_queued > 0; }
    HRESULT play(const BYTE* pcm, std::size_t bytes) override;
    HRESULT wait(DWORD ms) override;
    HRESULT close() override;

private:
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool onItsThread() const { return GetCurrentThreadId() == m_thread; }

    HWAVEOUT m_wave = nullptr;
    DWORD m_thread = 0;
    PlaybackListener* m_listener = nullptr;
    std::size_t m_bufferBytes = 0;
    std::vector<BYTE> m_memory;
    std::array<WAVEHDR, kBuffers> m_headers{};
    int m_prepared = 0;
    // The buffers are used in turn: m_queued of them, from m_oldest on, are
    // with the device, which plays them in that order.
    int m_oldest = 0;
    int m_queued = 0;
    unsigned m_returned = 0;  // buffers that came back, for wait
};

HRESULT WaveOutDevice::open(const WAVEFORMATEX& format, PlaybackListener& listener) {
    if (m_wave) return HRESULT_FROM_WIN32(ERROR_BUSY);
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nBlockAlign == 0 || format.nAvgBytesPerSec == 0)
        return E_INVALIDARG;
    if (waveOutGetNumDevs() == 0) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    const DWORD align = format.nBlockAlign;
    m_bufferBytes = std::max<DWORD>(align, format.nAvgBytesPerSec / (1000 / kBufferMs) / align * align);
    HRESULT hr = kv::com::guarded([&] {
        m_memory.assign(m_bufferBytes * kBuffers, 0);
        return S_OK;
    });
    if (FAILED(hr)) return hr;
    if (hr = createWindow(); FAILED(hr)) return hr;
    m_thread = GetCurrentThreadId();
    hr = fromMmResult(
        waveOutOpen(&m_wave, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(window()), 0, CALLBACK_WINDOW));
    if (FAILED(hr)) {
        m_wave = nullptr;
        close();
        return hr;
    }
    for (WAVEHDR& h : m_headers) {
        h = WAVEHDR{};
        const auto at = static_cast<std::size_t>(&h - m_headers.data()) * m_bufferBytes;
        h.lpData = reinterpret_cast<LPSTR>(m_memory.data() + at);
        h.dwBufferLength = static_cast<DWORD>(m_bufferBytes);
        if (hr = fromMmResult(waveOutPrepareHeader(m_wave, &h, sizeof h)); FAILED(hr)) {
            close();
            return hr;
        }
        ++m_prepared;
    }
    m_oldest = m_queued = 0;
    m_listener = &listener;
    return S_OK;
}

HRESULT WaveOutDevice::play(const BYTE* pcm, std::size_t bytes) {
    if (!m_wave) return E_UNEXPECTED;
    if (!onItsThread()) return RPC_E_WRONG_THREAD;
    if (m_queued == kBuffers || bytes == 0 || bytes > m_bufferBytes) return E_INVALIDARG;
    WAVEHDR& h = m_headers[(m_oldest + m_queued) % kBuffers];
    std::copy_n(pcm, bytes, reinterpret_cast<BYTE*>(h.lpData));
    h.dwBufferLength = static_cast<DWORD>(bytes);
    h.dwFlags &= ~WHDR_DONE;
    const HRESULT hr = fromMmResult(waveOutWrite(m_wave, &h, sizeof h));
    if (SUCCEEDED(hr)) ++m_queued;
    return hr;
}

HRESULT WaveOutDevice::wait(DWORD ms) {
    if (!m_wave) return E_UNEXPECTED;
    if (!onItsThread()) return RPC_E_WRONG_THREAD;
    const unsigned before = m_returned;
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (window() && PeekMessageW(&msg, window(), 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (m_returned != before || !m_wave) return S_OK;
        const DWORD waited = GetTickCount() - start;
        if (waited >= ms) return S_FALSE;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - waited, QS_POSTMESSAGE | QS_SENDMESSAGE);
    }
}

HRESULT WaveOutDevice::close() {
    m_listener = nullptr;
    if (!m_wave && !window()) return S_FALSE;
    if (m_wave) {
        waveOutReset(m_wave);
        for (int i = 0; i < m_prepared; ++i) waveOutUnprepareHeader(m_wave, &m_headers[i], sizeof m_headers[i]);
        waveOutClose(m_wave);
        m_wave = nullptr;
    }
    m_prepared = 0;
    m_queued = 0;
    destroyWindow();  // with the messages still posted for the old buffers
    return S_OK;
}

bool WaveOutDevice::onMessage(UINT message, WPARAM, LPARAM) {
    if (message != MM_WOM_DONE) return false;
    // The listener may drop the last reference to the device; it goes once
    // this procedure is done with it.
    const std::shared_ptr<WaveOutDevice> keep = weak_from_this().lock();
    // A message may name a buffer behind one whose message is still on its
    // way: buffers come back in the order they were written.
    while (m_queued > 0 && (m_headers[m_oldest].dwFlags & WHDR_DONE)) {
        m_oldest = (m_oldest + 1) % kBuffers;
        --m_queued;
        ++m_returned;
        // Nothing may leave a window procedure.
        if (m_listener) {
            kv::com::guarded([&] {
                m_listener->onBufferPlayed();
                return S_OK;
            });
        }
        if (!m_wave) break;  // the listener closed the device
    }
    return true;
}

}  // namespace

std::shared_ptr<PlaybackDevice> makePlaybackDevice() { return std::make_shared<WaveOutDevice>(); }

}  // namespace kv::components
