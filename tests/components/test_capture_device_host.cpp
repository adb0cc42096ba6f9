// The host has no audio input or output: the devices say so and hold nothing.
#include <gtest/gtest.h>

#include "components/CaptureDevice.h"
#include "components/Player.h"

namespace {

struct Ignore : kv::components::CaptureListener {
    void onCapturedPcm(const BYTE*, std::size_t) override { ADD_FAILURE() << "no device records"; }
    void onCaptureFailed(HRESULT) override { ADD_FAILURE() << "no device fails while recording"; }
};

TEST(CaptureDevice, TheHostHasNoInputDevice) {
    auto device = kv::components::makeCaptureDevice();
    Ignore listener;
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 16000, 32000, 2, 16, 0};
    EXPECT_EQ(device->start(format, listener), HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_FALSE(device->recording());
    EXPECT_EQ(device->stop(), S_FALSE);
}

TEST(PlaybackDevice, TheHostHasNoOutputDevice) {
    EXPECT_EQ(kv::com::make<kv::components::CKvPlayer>()->Open(), HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
}

}  // namespace
