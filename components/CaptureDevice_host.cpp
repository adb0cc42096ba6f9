// The host has no audio input: opening the device says there is none.
#include "components/CaptureDevice.h"

namespace kv::components {

namespace {

class NoDevice final : public CaptureDevice {
public:
    HRESULT start(const WAVEFORMATEX&, CaptureListener&) override {
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    }
    HRESULT stop() override { return S_FALSE; }
    bool recording() const override { return false; }
};

}  // namespace

std::shared_ptr<CaptureDevice> makeCaptureDevice() { return std::make_shared<NoDevice>(); }

}  // namespace kv::components
