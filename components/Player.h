#pragma once

// A data target that plays the 16-bit mono PCM it is given on the default
// audio output device.

#include <memory>
#include <vector>

#include "com/Object.h"
#include "components/Components.h"
#include "components/PlaybackDevice.h"

namespace kv::components {

// Open opens the device (made on first use by makePlaybackDevice, unless one
// was given at construction) at SampleRate: 16000 until set, 8000 to 48000,
// fixed while open (E_KV_ALREADY_OPEN). The apartment rules are the device's:
// the object is used on the thread that opened it, whose message loop hands
// the played buffers back.
//
// OnAudioData queues the samples behind what the device's buffers hold, and
// the device takes them as its buffers come back: nothing is dropped. The
// queue holds up to kQueueSeconds of audio; a call that would pass that waits
// (handling only the device's messages) while the device plays, as a
// blocking write to a sound device does, so a caller faster than real time
// is paced by it. Should the device return no buffer for kStallMs, the call
// ends with E_KV_PLAYER_STALLED, its description saying how much of the call
// was queued (the rest was not).
//
// OnAudioData takes whole samples: an odd length is refused whole
// (E_INVALIDARG), as is data while the player is not open (E_KV_NOT_OPEN).
// Close plays out everything queued, then closes the device; so does the
// final release of an open player. A device that fails or stalls on the way
// is closed, and the call that finds it says how many queued bytes went
// unplayed. Every failure is described.
class CKvPlayer : public kv::com::implements<CKvPlayer, ComponentDispatch<IKvPlayer>, IKvAudioDataTarget,
                                             kv::com::alias<IDispatch, IKvPlayer>,
                                             kv::com::SupportsErrorInfo<IKvPlayer, IKvAudioDataTarget>>,
                  private PlaybackListener {
public:
    static constexpr DWORD kQueueSeconds = 10;
    static constexpr DWORD kStallMs = 5000;

    CKvPlayer() = default;
    explicit CKvPlayer(std::shared_ptr<PlaybackDevice> device) : m_device(std::move(device)) {}

    HRESULT STDMETHODCALLTYPE OnAudioData(BYTE* data, LONG length) override;

    HRESULT STDMETHODCALLTYPE Open() override;
    HRESULT STDMETHODCALLTYPE Close() override;
    HRESULT STDMETHODCALLTYPE get_SampleRate(LONG* rate) override;
    HRESULT STDMETHODCALLTYPE put_SampleRate(LONG rate) override;

    void finalRelease();

    // Bytes waiting for a free buffer of the device.
    std::size_t queuedBytes() const { return m_pending.size() - m_head; }
    std::size_t queueLimit() const { return std::size_t{m_rate} * 2 * kQueueSeconds; }

private:
    bool isOpen() const { return m_device && m_device->isOpen(); }
    // Hands the queue to the device's free buffers; a failure of the device
    // is kept for the next call.
    void feed();
    void onBufferPlayed() override { feed(); }
    // Closes the device, dropping what is queued: how many bytes that was.
    std::size_t abandon();
    // Plays out the queue and what the device holds; S_OK, the device's
    // failure, or E_KV_PLAYER_STALLED.
    HRESULT drain();

    std::shared_ptr<PlaybackDevice> m_device;
    // The queue, from m_head on; the front is given back in large steps.
    std::vector<BYTE> m_pending;
    std::size_t m_head = 0;
    HRESULT m_failure = S_OK;  // the device failed while playing
    DWORD m_rate = 16000;
    kv::com::ModuleLock m_moduleLock;
};

}  // namespace kv::components
