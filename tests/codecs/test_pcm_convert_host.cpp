// The debugger message is read back through the host stand-in.
#include "codecs/PCMSampleConvert.h"

#include <gtest/gtest.h>

namespace {

TEST(PcmConvertHost, OpenFailureWritesOneDebugLinePerCall) {
    const std::u16string line = u"CPCMSampleConvert::initConvert - Failed to prepare, acmStreamOpen\r\n";
    WAVEFORMATEX capture{WAVE_FORMAT_PCM, 1, 16000, 32000, 2, 16, 0};
    WAVEFORMATEX unknown{0x1234, 1, 8000, 4055, 256, 4, 0};
    kv::codecs::CPCMSampleConvert c;
    kv::host::clearDebugOutput();
    EXPECT_EQ(c.initConvert(&capture, &unknown), -3);
    EXPECT_EQ(kv::host::debugOutput(), line);
    EXPECT_EQ(c.initConvert(&unknown, &capture), -3);
    EXPECT_EQ(kv::host::debugOutput(), line + line);
    EXPECT_EQ(c.initConvert(&capture, &capture), 0);
    EXPECT_EQ(kv::host::debugOutput(), line + line) << "success writes nothing";
}

}  // namespace
