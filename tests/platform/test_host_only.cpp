// What only the stand-in offers: debugger output kept for tests, and the
// checks the real system makes too but cannot be asked to make safely.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HostDebugOutput, KeepsEveryMessageInOrder) {
    kv::host::clearDebugOutput();
    OutputDebugStringW(u"first\r\n");
    OutputDebugStringW(nullptr);
    OutputDebugStringW(u"second");
    EXPECT_EQ(kv::host::debugOutput(), u"first\r\nsecond");
    kv::host::clearDebugOutput();
    EXPECT_TRUE(kv::host::debugOutput().empty());
}

TEST(HostDebugOutput, KeepsOnlyTheNewestText) {
    // Numbered lines, so that what is kept shows which were dropped.
    kv::host::clearDebugOutput();
    std::u16string all;
    for (int i = 0; all.size() < 3 * kv::host::kDebugOutputKept; ++i) {
        std::u16string line;
        for (char c : "line " + std::to_string(i) + "\r\n") line += static_cast<char16_t>(c);
        OutputDebugStringW(line.c_str());
        all += line;
    }
    EXPECT_EQ(kv::host::debugOutput(), all.substr(all.size() - kv::host::kDebugOutputKept));

    // One message longer than all that is kept leaves its end.
    const std::u16string huge = all.substr(0, kv::host::kDebugOutputKept + 5);
    OutputDebugStringW(huge.c_str());
    EXPECT_EQ(kv::host::debugOutput(), huge.substr(5));
    kv::host::clearDebugOutput();
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
