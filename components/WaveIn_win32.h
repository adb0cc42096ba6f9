#pragma once

// The waveIn calls behind the win32 capture device, as a table, so that a
// test can put a device of its own under the same window-message path.

#include <memory>

#include "components/CaptureDevice.h"

namespace kv::components {

struct WaveInApi {
    UINT(WINAPI* getNumDevs)();
    MMRESULT(WINAPI* open)(LPHWAVEIN, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT(WINAPI* prepareHeader)(HWAVEIN, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* unprepareHeader)(HWAVEIN, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* addBuffer)(HWAVEIN, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* start)(HWAVEIN);
    MMRESULT(WINAPI* reset)(HWAVEIN);
    MMRESULT(WINAPI* close)(HWAVEIN);
};

// winmm's own functions.
const WaveInApi& systemWaveIn();

// A device on `api`: it opens WAVE_MAPPER with a window callback, keeps
// kWaveInBuffers buffers of about kWaveInBufferMs each queued, and hands each
// one that comes back to the listener, in the order they were queued.
inline constexpr int kWaveInBuffers = 4;
inline constexpr int kWaveInBufferMs = 40;
std::shared_ptr<CaptureDevice> makeWaveInDevice(const WaveInApi& api);

}  // namespace kv::components
