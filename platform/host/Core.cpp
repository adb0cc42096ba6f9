// Host stand-in: GUIDs, BSTRs, interlocked counters, critical sections and
// debugger output.
#include "platform/win32.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

int StringFromGUID2(REFGUID g, LPOLESTR out, int cchMax) {
    if (!out || cchMax < 39) return 0;
    static const char16_t digits[] = u"0123456789ABCDEF";
    int n = 0;
    auto put = [&](unsigned long v, int count) {
        for (int i = count - 1; i >= 0; --i) out[n++] = digits[(v >> (4 * i)) & 0xF];
    };
    out[n++] = u'{';
    put(g.Data1, 8);
    out[n++] = u'-';
    put(g.Data2, 4);
    out[n++] = u'-';
    put(g.Data3, 4);
    out[n++] = u'-';
    put(g.Data4[0], 2);
    put(g.Data4[1], 2);
    out[n++] = u'-';
    for (int i = 2; i < 8; ++i) put(g.Data4[i], 2);
    out[n++] = u'}';
    out[n++] = 0;
    return n;
}

// A BSTR is preceded by its byte length and followed by a terminating zero,
// as on Windows, so SysStringLen is O(1) and embedded zeros survive.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
    const std::size_t bytes = static_cast<std::size_t>(cch) * sizeof(OLECHAR);
    auto* block = static_cast<std::uint8_t*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    const auto len = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &len, sizeof len);
    auto* str = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
    if (pch)
        std::memcpy(str, pch, bytes);
    else
        std::memset(str, 0, bytes);
    str[cch] = 0;
    return str;
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    UINT n = 0;
    while (psz[n]) ++n;
    return SysAllocStringLen(psz, n);
}

UINT SysStringLen(BSTR bstr) {
    if (!bstr) return 0;
    std::uint32_t len;
    std::memcpy(&len, reinterpret_cast<std::uint8_t*>(bstr) - sizeof len, sizeof len);
    return len / sizeof(OLECHAR);
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(reinterpret_cast<std::uint8_t*>(bstr) - sizeof(std::uint32_t));
}

LONG InterlockedIncrement(LONG volatile* addend) { return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST); }

LONG InterlockedDecrement(LONG volatile* addend) { return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST); }

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { cs->impl = new std::recursive_mutex; }

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD) {
    cs->impl = new (std::nothrow) std::recursive_mutex;
    return cs->impl != nullptr;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) { static_cast<std::recursive_mutex*>(cs->impl)->lock(); }

void LeaveCriticalSection(LPCRITICAL_SECTION cs) { static_cast<std::recursive_mutex*>(cs->impl)->unlock(); }

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    delete static_cast<std::recursive_mutex*>(cs->impl);
    cs->impl = nullptr;
}

namespace {
std::mutex g_debugLock;
std::u16string g_debugText;
}  // namespace

// Without a debugger the real call is silent; here the text is kept so that
// tests can read what the module reported. Only the newest part is kept: a
// long run (a fuzzer, a stream of failing calls) must not grow it for ever.
void OutputDebugStringW(LPCWSTR message) {
    if (!message) return;
    std::lock_guard<std::mutex> guard(g_debugLock);
    g_debugText += message;
    if (g_debugText.size() > kv::host::kDebugOutputKept)
        g_debugText.erase(0, g_debugText.size() - kv::host::kDebugOutputKept);
}

namespace kv::host {
std::u16string debugOutput() {
    std::lock_guard<std::mutex> guard(g_debugLock);
    return g_debugText;
}

void clearDebugOutput() {
    std::lock_guard<std::mutex> guard(g_debugLock);
    g_debugText.clear();
}
}  // namespace kv::host

DWORD GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size) {
    if (module || !filename || size == 0) return 0;
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return 0;
    // Paths here are UTF-8; the stand-in only needs the ASCII ones of tests,
    // but decodes multi-byte sequences properly all the same.
    std::u16string wide;
    for (ssize_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        char32_t cp = c;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra) cp = c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(path[i + k]) & 0x3F);
        i += 1 + extra;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            wide += static_cast<char16_t>(0xD800 + (cp >> 10));
            wide += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            wide += static_cast<char16_t>(cp);
        }
    }
    // As on Windows: a short buffer gets the truncated, terminated path and
    // the result is its size.
    const DWORD copy = static_cast<DWORD>(std::min<std::size_t>(wide.size(), size - 1));
    std::copy_n(wide.data(), copy, filename);
    filename[copy] = 0;
    return wide.size() < size ? copy : size;
}

namespace {
char16_t g_ntdll;  // what the handle of ntdll.dll points at
}  // namespace

HMODULE GetModuleHandleW(LPCWSTR name) {
    static constexpr char16_t kNtdll[] = u"ntdll.dll";
    if (!name) return nullptr;
    std::size_t i = 0;
    for (; name[i] && kNtdll[i]; ++i) {
        const char16_t c = name[i] >= u'A' && name[i] <= u'Z' ? static_cast<char16_t>(name[i] + 32) : name[i];
        if (c != kNtdll[i]) return nullptr;
    }
    return name[i] || kNtdll[i] ? nullptr : &g_ntdll;
}

FARPROC GetProcAddress(HMODULE, LPCSTR) { return nullptr; }
