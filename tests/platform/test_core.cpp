#include "platform/win32.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(Bstr, KeepsLengthAndEmbeddedZeros) {
    const OLECHAR text[] = {u'a', 0, u'b', u'c'};
    BSTR s = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text), 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 4u);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[3], u'c');
    EXPECT_EQ(s[4], 0) << "a BSTR is zero-terminated";
    SysFreeString(s);
}

TEST(Bstr, FromZeroTerminatedString) {
    BSTR s = SysAllocString(KV_W("KvCom.KvAudio.KvAudioEncoder.KVG711A"));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 36u);
    EXPECT_EQ(s[0], 'K');
    SysFreeString(s);
}

TEST(Bstr, NullAndEmpty) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);  // must be harmless
    BSTR empty = SysAllocStringLen(nullptr, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
}

TEST(Interlocked, ReturnsTheNewValue) {
    LONG volatile n = 0;
    EXPECT_EQ(InterlockedIncrement(&n), 1);
    EXPECT_EQ(InterlockedIncrement(&n), 2);
    EXPECT_EQ(InterlockedDecrement(&n), 1);
    EXPECT_EQ(InterlockedDecrement(&n), 0);
    EXPECT_EQ(InterlockedDecrement(&n), -1);
}

TEST(Interlocked, CountsCorrectlyAcrossThreads) {
    LONG volatile n = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&n] {
            for (int i = 0; i < 20000; ++i) InterlockedIncrement(&n);
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(n, 80000);
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);  // the owner may enter again
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);

    long shared = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                EnterCriticalSection(&cs);
                ++shared;
                LeaveCriticalSection(&cs);
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(shared, 80000);
    DeleteCriticalSection(&cs);
}

TEST(Guid, EqualityComparesEveryField) {
    GUID a = {0x8216FC5A, 0xA89E, 0x446E, {0xA2, 0x53, 0xD4, 0x4E, 0x1F, 0xD3, 0x55, 0x20}};
    GUID b = a;
    EXPECT_TRUE(IsEqualGUID(a, b));
    b.Data4[7] ^= 1;
    EXPECT_FALSE(IsEqualGUID(a, b));
    b = a;
    b.Data3 ^= 1;
    EXPECT_FALSE(IsEqualGUID(a, b));
    EXPECT_FALSE(IsEqualGUID(a, IID_IUnknown));
    EXPECT_EQ(IID_IUnknown.Data4[0], 0xC0);
    EXPECT_EQ(IID_IUnknown.Data4[7], 0x46);
}

TEST(Hresult, CodesAndTests) {
    EXPECT_EQ(static_cast<std::uint32_t>(E_NOTIMPL), 0x80004001u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_NOINTERFACE), 0x80004002u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_POINTER), 0x80004003u);
    EXPECT_EQ(static_cast<std::uint32_t>(E_OUTOFMEMORY), 0x8007000Eu);
    EXPECT_EQ(static_cast<std::uint32_t>(CLASS_E_NOAGGREGATION), 0x80040110u);
    EXPECT_EQ(static_cast<std::uint32_t>(CLASS_E_CLASSNOTAVAILABLE), 0x80040111u);
    EXPECT_EQ(S_FALSE, 1);
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(FAILED(E_POINTER));
}

}  // namespace

namespace {

TEST(Guid, StringFromGuid2WritesTheRegistryForm) {
    const GUID g = {0x8F0E0D0C, 0x0B0A, 0x49C9, {0xBC, 0x55, 0x3B, 0x6D, 0x4A, 0xFD, 0x0D, 0x27}};
    OLECHAR text[39];
    ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
    const OLECHAR* expected = KV_W("{8F0E0D0C-0B0A-49C9-BC55-3B6D4AFD0D27}");
    for (int i = 0; i < 39; ++i) ASSERT_EQ(text[i], expected[i]) << i;
    EXPECT_EQ(StringFromGUID2(g, text, 38), 0) << "no room for the terminating zero";
}

TEST(Modules, NtdllIsFoundInAnyCaseAndAnUnknownModuleIsNot) {
    EXPECT_NE(GetModuleHandleW(KV_W("ntdll.dll")), nullptr);
    EXPECT_EQ(GetModuleHandleW(KV_W("NTDLL.DLL")), GetModuleHandleW(KV_W("ntdll.dll")));
    EXPECT_EQ(GetModuleHandleW(KV_W("ntdll.dl")), nullptr);
    EXPECT_EQ(GetModuleHandleW(KV_W("kv-no-such-module.dll")), nullptr);
}

}  // namespace

namespace {

// The thread's error slot: what was set is handed over once, with every field.
TEST(ErrorInfo, IsHandedOverOnceWithItsFields) {
    IErrorInfo* none = reinterpret_cast<IErrorInfo*>(0x1);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);

    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    OLECHAR source[] = KV_W("Kv.Source"), description[] = KV_W("cannot open C:\\x.wav");
    EXPECT_EQ(create->SetSource(source), S_OK);
    EXPECT_EQ(create->SetDescription(description), S_OK);
    EXPECT_EQ(create->SetGUID(IID_IDispatch), S_OK);
    IErrorInfo* error = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&error)), S_OK);
    create->Release();
    EXPECT_EQ(SetErrorInfo(0, error), S_OK);
    error->Release();

    IErrorInfo* got = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    ASSERT_NE(got, nullptr);
    BSTR text = nullptr;
    ASSERT_EQ(got->GetDescription(&text), S_OK);
    EXPECT_EQ(std::basic_string<OLECHAR>(text), std::basic_string<OLECHAR>(description));
    SysFreeString(text);
    ASSERT_EQ(got->GetSource(&text), S_OK);
    EXPECT_EQ(std::basic_string<OLECHAR>(text), std::basic_string<OLECHAR>(source));
    SysFreeString(text);
    GUID guid{};
    ASSERT_EQ(got->GetGUID(&guid), S_OK);
    EXPECT_TRUE(IsEqualGUID(guid, IID_IDispatch));
    got->Release();
    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE) << "taken once";
    EXPECT_EQ(got, nullptr);
}

// A thread's apartment as it initialises COM: none; the process's first STA
// is its main one, another thread's meanwhile a plain one; once the main one
// ends, the next STA is main; the MTA.
TEST(Com, ApartmentTypeFollowsTheThreadsInitialisation) {
    std::vector<std::pair<HRESULT, int>> seen;  // the type, with the qualifier at 100
    const auto look = [&seen] {
        APTTYPE type{};
        APTTYPEQUALIFIER qualifier{};
        const HRESULT hr = CoGetApartmentType(&type, &qualifier);
        seen.emplace_back(hr, type + 100 * qualifier);
    };
    const auto in = [&look](DWORD model, auto meanwhile) {
        CoInitializeEx(nullptr, model);
        look();
        meanwhile();
        CoUninitialize();
        look();
    };
    std::thread([&] {
        look();
        in(COINIT_APARTMENTTHREADED, [&] { std::thread([&] { in(COINIT_APARTMENTTHREADED, [] {}); }).join(); });
        in(COINIT_APARTMENTTHREADED, [] {});
        in(COINIT_MULTITHREADED, [] {});
    }).join();
    const std::pair<HRESULT, int> none{CO_E_NOTINITIALIZED, APTTYPE_CURRENT}, main{S_OK, APTTYPE_MAINSTA};
    EXPECT_EQ(seen, (std::vector<std::pair<HRESULT, int>>{
                        none, main, {S_OK, APTTYPE_STA}, none, none, main, none, {S_OK, APTTYPE_MTA}, none}));
    EXPECT_EQ(CoGetApartmentType(nullptr, nullptr), E_INVALIDARG);
}

}  // namespace
