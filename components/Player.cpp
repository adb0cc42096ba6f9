#include "components/Player.h"

#include <algorithm>

#include "codecs/PCMSampleConvert.h"

namespace kv::components {

namespace {

using kv::com::ErrorText;
using kv::com::Hex;

template <class Describe>
HRESULT report(HRESULT hr, REFIID iid, Describe&& describe) noexcept {
    return describedFailure(hr, kPlayerProgId, iid, describe);
}

// Why the device would not open or play, in a few words.
ErrorText& deviceProblem(ErrorText& text, HRESULT hr, DWORD rate) {
    if (hr == E_KV_PLAYER_STALLED)
        return text << "the audio output device played nothing for " << static_cast<long long>(CKvPlayer::kStallMs)
                    << " ms";
    if (hr == RPC_E_WRONG_THREAD) return text << "the player is used on a thread other than the one that opened it";
    if (hr == E_OUTOFMEMORY) return text << "out of memory";
    if (hr == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED))
        text << "there is no audio output device";
    else if (hr == HRESULT_FROM_WIN32(ERROR_BUSY))
        text << "the audio output device is in use";
    else if (hr == HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED))
        text << "the audio output device does not play 16-bit mono at " << static_cast<long long>(rate) << " Hz";
    else
        text << "the audio output device failed";
    return text << " (" << Hex{hr} << ")";
}

}  // namespace

HRESULT STDMETHODCALLTYPE CKvPlayer::Open() {
    if (isOpen())
        return report(E_KV_ALREADY_OPEN, IID_IKvPlayer,
                      [](ErrorText& text) { text << "cannot open the player: it is open already"; });
    const HRESULT hr = kv::com::guarded([&] {
        if (!m_device) m_device = makePlaybackDevice();
        return m_device->open(codecs::pcmWaveFormat(1, m_rate, 16), *this);
    });
    m_pending.clear();
    m_head = 0;
    m_failure = S_OK;
    if (SUCCEEDED(hr)) return S_OK;
    return report(hr, IID_IKvPlayer,
                  [&](ErrorText& text) { deviceProblem(text << "cannot open the player: ", hr, m_rate); });
}

HRESULT STDMETHODCALLTYPE CKvPlayer::OnAudioData(BYTE* data, LONG length) {
    std::size_t at = 0;
    const auto total = static_cast<std::size_t>(std::max<LONG>(length, 0));
    const auto refuse = [&](HRESULT hr, auto&& why) {
        return report(hr, IID_IKvAudioDataTarget, [&](ErrorText& text) {
            text << "cannot play " << static_cast<long long>(length) << " bytes of samples: ";
            why(text);
        });
    };
    if (const HRESULT hr = checkBlock(data, length); FAILED(hr))
        return refuse(hr, [&](ErrorText& text) { text << (hr == E_POINTER ? "no data given" : "a negative length"); });
    if (length % 2 != 0)
        return refuse(E_INVALIDARG,
                      [](ErrorText& text) { text << "an odd length (the samples are 16-bit, whole samples only)"; });
    if (!isOpen()) return refuse(E_KV_NOT_OPEN, [](ErrorText& text) { text << "the player is not open"; });
    const HRESULT hr = kv::com::guarded([&] {
        for (;;) {
            const std::size_t room = queueLimit() - std::min(queueLimit(), queuedBytes());
            const std::size_t take = std::min(room, total - at);
            m_pending.insert(m_pending.end(), data + at, data + at + take);
            at += take;
            feed();
            if (FAILED(m_failure)) return m_failure;
            if (at == total) return S_OK;
            // The queue is full: the device takes from it as it plays.
            const HRESULT waited = m_device->wait(kStallMs);
            if (FAILED(waited)) return waited;
            if (waited == S_FALSE) return E_KV_PLAYER_STALLED;
        }
    });
    if (SUCCEEDED(hr)) return S_OK;
    // A failed device closes the player; a stall or a wrong thread leaves it as it is.
    const bool failed = FAILED(m_failure);
    const std::size_t dropped = failed ? abandon() : 0;
    return refuse(hr, [&](ErrorText& text) {
        deviceProblem(text, hr, m_rate) << "; " << static_cast<long long>(at) << " of them were queued";
        if (failed)
            text << ", and the player was closed with " << static_cast<long long>(dropped) << " queued bytes unplayed";
        else if (at < total)
            text << " (the rest were not: give them again)";
    });
}

HRESULT STDMETHODCALLTYPE CKvPlayer::Close() {
    if (!isOpen())
        return report(E_KV_NOT_OPEN, IID_IKvPlayer,
                      [](ErrorText& text) { text << "cannot close: the player is not open"; });
    const HRESULT hr = drain();
    if (hr == RPC_E_WRONG_THREAD)
        return report(hr, IID_IKvPlayer, [&](ErrorText& text) { deviceProblem(text << "cannot close: ", hr, m_rate); });
    const std::size_t dropped = abandon();
    if (SUCCEEDED(hr)) return S_OK;
    return report(hr, IID_IKvPlayer, [&](ErrorText& text) {
        deviceProblem(text << "cannot play out what was queued: ", hr, m_rate)
            << "; the player was closed with " << static_cast<long long>(dropped) << " queued bytes unplayed";
    });
}

HRESULT STDMETHODCALLTYPE CKvPlayer::get_SampleRate(LONG* rate) {
    if (!rate) return E_POINTER;
    *rate = static_cast<LONG>(m_rate);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CKvPlayer::put_SampleRate(LONG rate) {
    const auto refuse = [&](HRESULT hr, const char* why) {
        return report(hr, IID_IKvPlayer, [&](ErrorText& text) {
            text << "cannot set SampleRate to " << static_cast<long long>(rate) << ": " << why;
        });
    };
    if (rate < 8000 || rate > 48000) return refuse(E_INVALIDARG, "it takes 8000 to 48000");
    if (isOpen() && static_cast<DWORD>(rate) != m_rate)
        return refuse(E_KV_ALREADY_OPEN, "the device plays at the rate it was opened with until Close");
    m_rate = static_cast<DWORD>(rate);
    return S_OK;
}

void CKvPlayer::finalRelease() {
    if (!isOpen()) return;
    drain();
    abandon();
}

void CKvPlayer::feed() {
    while (SUCCEEDED(m_failure) && queuedBytes() > 0 && isOpen() && m_device->freeBuffers() > 0) {
        const std::size_t n = std::min(queuedBytes(), m_device->bufferBytes());
        const HRESULT hr = m_device->play(m_pending.data() + m_head, n);
        if (hr == RPC_E_WRONG_THREAD) return;  // not a failure of the device: the caller hears of it
        if (FAILED(hr)) {
            m_failure = hr;
            return;
        }
        m_head += n;
    }
    // What was played goes once it is as long as what is left, so that
    // moving the rest down costs no more than the bytes played.
    if (m_head >= queuedBytes()) {
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_head));
        m_head = 0;
    }
}

HRESULT CKvPlayer::drain() {
    for (;;) {
        feed();
        if (FAILED(m_failure)) return m_failure;
        if (queuedBytes() == 0 && !m_device->playing()) return S_OK;
        const HRESULT waited = m_device->wait(kStallMs);
        if (FAILED(waited)) return waited;
        if (waited == S_FALSE) return E_KV_PLAYER_STALLED;
    }
}

std::size_t CKvPlayer::abandon() {
    const std::size_t dropped = queuedBytes();
    m_pending.clear();
    m_head = 0;
    m_failure = S_OK;
    if (m_device) m_device->close();
    return dropped;
}

}  // namespace kv::components
