// The host has no audio output: opening the device says there is none.
#include "components/PlaybackDevice.h"

namespace kv::components {

namespace {

class NoDevice final : public PlaybackDevice {
public:
    HRESULT open(const WAVEFORMATEX&, PlaybackListener&) override {
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    }
    bool isOpen() const override { return false; }
    std::size_t bufferBytes() const override { return 0; }
    int freeBuffers() const override { return 0; }
    bool playing() const override { return false; }
    HRESULT play(const BYTE*, std::size_t) override { return E_UNEXPECTED; }
    HRESULT wait(DWORD) override { return S_FALSE; }
    HRESULT close() override { return S_FALSE; }
};

}  // namespace

std::shared_ptr<PlaybackDevice> makePlaybackDevice() { return std::make_shared<NoDevice>(); }

}  // namespace kv::components
