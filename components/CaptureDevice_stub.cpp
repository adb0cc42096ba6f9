// Until a platform has its own input device: none, and opening it says so.
#include "components/CaptureDevice.h"

#include "components/Components.h"

namespace kv::components {

namespace {

class NoCaptureDevice final : public CaptureDevice {
public:
    HRESULT start(const WAVEFORMATEX&, CaptureListener&) override {
        return makeError(0x8007048F);  // HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)
    }
    HRESULT stop() override { return S_FALSE; }
    bool recording() const override { return false; }
};

}  // namespace

std::unique_ptr<CaptureDevice> makeCaptureDevice() { return std::make_unique<NoCaptureDevice>(); }

}  // namespace kv::components
