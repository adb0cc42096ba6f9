// The default audio input through waveIn. Buffers come back as window
// messages to a hidden window of the thread that started the recording, so
// the listener is only ever called on that thread, from its message loop.
#include <algorithm>
#include <array>
#include <deque>
#include <memory>
#include <vector>

#include "com/Barrier.h"
#include "components/MmWindow_win32.h"
#include "components/WaveIn_win32.h"

namespace kv::components {

namespace {

class WaveInDevice final : public CaptureDevice, private MmWindow, public std::enable_shared_from_this<WaveInDevice> {
public:
    explicit WaveInDevice(const WaveInApi& api) : m_api(api) {}
    ~WaveInDevice() override { close(false); }

    HRESULT start(const WAVEFORMATEX& format, CaptureListener& listener) override;
    HRESULT stop() override;
    bool recording() const override { return m_wave != nullptr; }

private:
    bool onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void deliverReturned();
    void close(bool deliver);

    const WaveInApi m_api;
    HWAVEIN m_wave = nullptr;
    DWORD m_thread = 0;
    CaptureListener* m_listener = nullptr;
    bool m_closing = false;
    std::vector<BYTE> m_memory;
    std::array<WAVEHDR, kWaveInBuffers> m_headers{};
    int m_prepared = 0;
    std::deque<WAVEHDR*> m_queued;  // with the device, in the order they were added
};

HRESULT WaveInDevice::start(const WAVEFORMATEX& format, CaptureListener& listener) {
    if (m_wave) return HRESULT_FROM_WIN32(ERROR_BUSY);
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nBlockAlign == 0 || format.nAvgBytesPerSec == 0)
        return E_INVALIDARG;
    if (m_api.getNumDevs() == 0) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);

    const DWORD align = format.nBlockAlign;
    const DWORD bufferBytes = std::max<DWORD>(align, format.nAvgBytesPerSec / (1000 / kWaveInBufferMs) / align * align);
    const HRESULT allocated = kv::com::guarded([&] {
        m_memory.assign(static_cast<std::size_t>(bufferBytes) * kWaveInBuffers, 0);
        return S_OK;
    });
    if (FAILED(allocated)) return allocated;

    if (const HRESULT hr = createWindow(); FAILED(hr)) return hr;
    m_thread = GetCurrentThreadId();
    m_listener = &listener;
    m_closing = false;

    HRESULT hr = fromMmResult(
        m_api.open(&m_wave, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(window()), 0, CALLBACK_WINDOW));
    if (FAILED(hr)) {
        m_wave = nullptr;
        close(false);
        return hr;
    }
    for (int i = 0; i < kWaveInBuffers && SUCCEEDED(hr); ++i) {
        WAVEHDR& h = m_headers[i];
        h = WAVEHDR{};
        h.lpData = reinterpret_cast<LPSTR>(m_memory.data() + static_cast<std::size_t>(i) * bufferBytes);
        h.dwBufferLength = bufferBytes;
        hr = fromMmResult(m_api.prepareHeader(m_wave, &h, sizeof h));
        if (FAILED(hr)) break;
        ++m_prepared;
        hr = fromMmResult(m_api.addBuffer(m_wave, &h, sizeof h));
        if (SUCCEEDED(hr)) m_queued.push_back(&h);
    }
    if (SUCCEEDED(hr)) hr = fromMmResult(m_api.start(m_wave));
    if (FAILED(hr)) close(false);
    return hr;
}

HRESULT WaveInDevice::stop() {
    if (!m_wave) return S_FALSE;
    if (GetCurrentThreadId() != m_thread) return RPC_E_WRONG_THREAD;
    close(true);
    return S_OK;
}

// Hands over every buffer at the head of the queue that the device has
// returned: a message may name a buffer behind one whose message is still
// on its way, and the listener must see them in recording order.
void WaveInDevice::deliverReturned() {
    while (!m_queued.empty() && (m_queued.front()->dwFlags & WHDR_DONE)) {
        WAVEHDR* h = m_queued.front();
        m_queued.pop_front();
        if (h->dwBytesRecorded > 0 && m_listener)
            m_listener->onCapturedPcm(reinterpret_cast<const BYTE*>(h->lpData), h->dwBytesRecorded);
        // The listener may have stopped the recording.
        if (!m_wave || m_closing) continue;
        h->dwFlags &= ~WHDR_DONE;
        h->dwBytesRecorded = 0;
        const HRESULT hr = fromMmResult(m_api.addBuffer(m_wave, h, sizeof *h));
        if (SUCCEEDED(hr)) {
            m_queued.push_back(h);
            continue;
        }
        CaptureListener* listener = m_listener;
        close(true);
        if (listener) listener->onCaptureFailed(hr);
        return;
    }
}

// Takes every buffer back from the device, handing what they hold to the
// listener when `deliver`, and leaves nothing open.
void WaveInDevice::close(bool deliver) {
    if (m_closing) return;
    m_closing = true;
    if (m_wave) {
        m_api.reset(m_wave);
        if (deliver) deliverReturned();
        for (int i = 0; i < m_prepared; ++i) m_api.unprepareHeader(m_wave, &m_headers[i], sizeof m_headers[i]);
        m_api.close(m_wave);
        m_wave = nullptr;
    }
    m_prepared = 0;
    m_queued.clear();
    m_listener = nullptr;
    destroyWindow();  // with the messages still posted for the old buffers
    m_closing = false;
}

bool WaveInDevice::onMessage(UINT message, WPARAM, LPARAM) {
    if (message != MM_WIM_DATA) return false;
    // The listener may drop the last reference to the device; it goes once
    // this procedure is done with it.
    const std::shared_ptr<WaveInDevice> keep = weak_from_this().lock();
    // Nothing may leave a window procedure. A buffer that could not be
    // queued again is lost, as an overrun would lose it.
    if (!m_closing) {
        kv::com::guarded([&] {
            deliverReturned();
            return S_OK;
        });
    }
    return true;
}

}  // namespace

const WaveInApi& systemWaveIn() {
    static const WaveInApi api{&waveInGetNumDevs, &waveInOpen,  &waveInPrepareHeader, &waveInUnprepareHeader,
                               &waveInAddBuffer,  &waveInStart, &waveInReset,         &waveInClose};
    return api;
}

std::shared_ptr<CaptureDevice> makeWaveInDevice(const WaveInApi& api) { return std::make_shared<WaveInDevice>(api); }

std::shared_ptr<CaptureDevice> makeCaptureDevice() { return makeWaveInDevice(systemWaveIn()); }

}  // namespace kv::components
