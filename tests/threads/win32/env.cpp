#include "env.h"

#include <psapi.h>
#include <shellapi.h>

#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>

namespace client {

namespace {
Paths g_paths;
}

const Paths& paths() { return g_paths; }
void setPaths(const Paths& p) { g_paths = p; }

}  // namespace client

namespace env {

namespace {
long g_cycles = 0;

bool takeOption(const std::wstring& arg, const wchar_t* name, std::wstring& into) {
    const std::wstring prefix = std::wstring(L"--") + name + L"=";
    if (arg.compare(0, prefix.size(), prefix) != 0) return false;
    into = arg.substr(prefix.size());
    return true;
}
// SystemHandleInformation: a count, then one entry per open handle.
struct HandleEntry {
    ULONG process;
    BYTE type;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};

long long handlesInSystemTable() {
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<BYTE> buffer(1 << 20);
    ULONG size = 0;
    while (query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &size) != 0) {
        if (buffer.size() >= (1u << 26)) return -1;
        buffer.resize(buffer.size() * 2);
    }
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    long long mine = 0;
    for (ULONG i = 0; i < count; ++i)
        if (entries[i].process == GetCurrentProcessId()) ++mine;
    return mine;
}

}  // namespace

Server::Server() {
    ITypeLib* library = nullptr;
    m_status = LoadTypeLibEx(client::paths().kvLib.c_str(), REGKIND_REGISTER, &library);
    if (library) library->Release();
}

Server::~Server() {
    if (SUCCEEDED(m_status)) UnRegisterTypeLib(client::kLibIdKvLib, 1, 0, 0, client::kSysKind);
}

HRESULT canUnloadNow() {
    const HMODULE module = GetModuleHandleW(client::paths().dll.c_str());
    if (!module) return E_UNEXPECTED;
    using Fn = HRESULT(STDAPICALLTYPE*)();
    const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return fn ? fn() : E_FAIL;
}

std::vector<std::uint8_t> readData(const char* relativePath) {
    std::wstring path = client::paths().data + L"\\";
    for (const char* c = relativePath; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Usage usage() {
    Usage u{};
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) u.heapBytes += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    // The commit charge; Wine leaves PrivateUsage at 0 but fills this.
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        u.memoryBytes = static_cast<long long>(counters.PagefileUsage);
    DWORD handles = 0;
    u.handles = GetProcessHandleCount(GetCurrentProcess(), &handles) ? static_cast<long long>(handles) : -1;
    // A process always holds handles: 0 is Wine's stub answer. Count ours in
    // the system's handle table instead.
    if (u.handles == 0) u.handles = handlesInSystemTable();
    return u;
}

void parseOptions(int, char**) {
    // The paths hold spaces and apostrophes: read them from the wide command line.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    client::Paths p;
    std::wstring cycles;
    for (int i = 1; argv && i < argc; ++i) {
        const std::wstring arg = argv[i];
        takeOption(arg, L"dll", p.dll) || takeOption(arg, L"kvlib", p.kvLib) || takeOption(arg, L"data", p.data) ||
            takeOption(arg, L"cycles", cycles);
    }
    LocalFree(argv);
    client::setPaths(p);
    if (!cycles.empty()) g_cycles = std::wcstol(cycles.c_str(), nullptr, 10);
}

long cyclesOption() { return g_cycles > 0 ? g_cycles : kDefaultCycles; }

}  // namespace env
