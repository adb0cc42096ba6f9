#pragma once

// The audio input device behind the capture component's Start and Stop.
// Each platform has its own source: the Windows waveIn device on win32; on the
// host there is no device, and opening one says so.

#include <cstddef>
#include <memory>

#include "platform/win32.h"

namespace kv::components {

// Receives what the device recorded, on the thread that started it (the
// creating apartment's thread: buffers come back through window messages, so
// the host's message loop delivers them). A listener may stop the device, or
// drop the last reference to it, from inside either call.
class CaptureListener {
public:
    virtual void onCapturedPcm(const BYTE* pcm, std::size_t bytes) = 0;
    // The device stopped by itself (removed, or a failure while recording).
    virtual void onCaptureFailed(HRESULT why) = 0;

protected:
    ~CaptureListener() = default;
};

// Shared, so that a device can hold itself while it calls its listener, who
// may let go of it meanwhile.
class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;

    // Opens the default input device at `format` and starts recording into it.
    // The listener must outlive the recording. A failure leaves nothing open:
    // no input device is HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED).
    virtual HRESULT start(const WAVEFORMATEX& format, CaptureListener& listener) = 0;
    // Stops, hands what was recorded so far to the listener, and closes.
    // S_FALSE when not recording.
    virtual HRESULT stop() = 0;
    virtual bool recording() const = 0;
};

// The platform's default input device.
std::shared_ptr<CaptureDevice> makeCaptureDevice();

}  // namespace kv::components
