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

// Like Windows's, the stand-in's ntdll is not Wine's.
TEST(HostModules, ExportNoWineVersion) {
    EXPECT_EQ(GetProcAddress(GetModuleHandleW(u"ntdll.dll"), "wine_get_version"), nullptr);
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

// The three roots are separate trees here (Windows merges the user's and the
// machine's classes into HKEY_CLASSES_ROOT), and the registry-view flags are
// taken and change nothing.
TEST(HostRegistry, KeepsTheMachineTreeApart) {
    const OLECHAR* path = KV_W("Software\\Classes\\Interface\\HostOnlyScratch");
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    for (const REGSAM view : {REGSAM{0}, REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) {
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &key), ERROR_SUCCESS) << view;
        RegCloseKey(key);
    }
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, KV_W("Interface\\HostOnlyScratch"), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS) << "a predefined key is never closed";
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, KV_W("Software")), ERROR_SUCCESS);
}

// The stand-in's libraries describe no types: there is nothing to walk.
TEST(HostTypeLib, DescribesNoTypes) {
    kv::host::setModuleTypeLib(KV_W("/lib.tlb"), TLIBATTR{}, KV_W("Lib"), KV_W("A library"));
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx(KV_W("/lib.tlb"), REGKIND_NONE, &library), S_OK);
    EXPECT_EQ(library->GetTypeInfoCount(), 0u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0x1);
    EXPECT_EQ(library->GetTypeInfo(0, &info), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(info, nullptr);
    library->Release();
}

}  // namespace
