// What only the stand-in offers: debugger output kept for tests, and the
// checks the real system makes too but cannot be asked to make safely.
#include "platform/win32.h"

#include <gtest/gtest.h>

namespace {

TEST(HostDebugOutput, KeepsEveryMessageInOrder) {
    kvhost::clearDebugOutput();
    OutputDebugStringW(u"first\r\n");
    OutputDebugStringW(nullptr);
    OutputDebugStringW(u"second");
    EXPECT_EQ(kvhost::debugOutput(), u"first\r\nsecond");
    kvhost::clearDebugOutput();
    EXPECT_TRUE(kvhost::debugOutput().empty());
}

TEST(HostAcm, RefusesUnknownHandlesAndMissingFormats) {
    HACMSTREAM h = nullptr;
    WAVEFORMATEX f{1, 1, 16000, 32000, 2, 16, 0};
    EXPECT_EQ(acmStreamOpen(&h, nullptr, nullptr, &f, nullptr, 0, 0, 0), static_cast<MMRESULT>(MMSYSERR_INVALPARAM));
    DWORD out = 0;
    EXPECT_EQ(acmStreamSize(nullptr, 10, &out, 0), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    ASSERT_EQ(acmStreamOpen(&h, nullptr, &f, &f, nullptr, 0, 0, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(acmStreamClose(h, 0), static_cast<MMRESULT>(MMSYSERR_NOERROR));
    EXPECT_EQ(acmStreamClose(h, 0), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE)) << "a closed stream is gone";
}

}  // namespace
