#pragma once

// The audio output device behind the player. Each platform has its own
// source: the Windows waveOut device on win32; on the host there is no
// device, and opening one says so.

#include <cstddef>
#include <memory>

#include "platform/win32.h"

namespace kv::components {

// Hears, on the thread that opened the device, that a buffer has been played
// and is free again (buffers come back through window messages, so the
// host's message loop, or the device's wait, delivers them).
class PlaybackListener {
public:
    virtual void onBufferPlayed() = 0;

protected:
    ~PlaybackListener() = default;
};

// A few buffers, each played in the order it was queued. Every call but
// isOpen comes from the thread that opened the device (RPC_E_WRONG_THREAD
// otherwise).
class PlaybackDevice {
public:
    virtual ~PlaybackDevice() = default;

    // Opens the default output device at `format`. The listener must outlive
    // the device's being open. A failure leaves nothing open: no output
    // device is HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED).
    virtual HRESULT open(const WAVEFORMATEX& format, PlaybackListener& listener) = 0;
    virtual bool isOpen() const = 0;
    // The most bytes a buffer takes (whole samples), and the buffers that
    // are free to take them now.
    virtual std::size_t bufferBytes() const = 0;
    virtual int freeBuffers() const = 0;
    // Whether any buffer is queued and not yet played.
    virtual bool playing() const = 0;
    // Copies 1 to bufferBytes() bytes into a free buffer and queues it.
    virtual HRESULT play(const BYTE* pcm, std::size_t bytes) = 0;
    // Waits until a buffer comes back (the listener hears of it first): S_OK,
    // or S_FALSE when none did within `ms`. Only the device's own messages
    // are handled meanwhile, so no other call reaches the caller's objects.
    virtual HRESULT wait(DWORD ms) = 0;
    // Stops at once, dropping what is queued, and closes. S_FALSE when not open.
    virtual HRESULT close() = 0;
};

// The platform's default output device.
std::shared_ptr<PlaybackDevice> makePlaybackDevice();

}  // namespace kv::components
