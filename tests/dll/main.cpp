// dll_client_test --dll=<registered module> --kvlib=<KvLib.tlb> --data=<folder> [gtest flags]
//
// Runs on the thread of one single-threaded apartment, as the module's
// Apartment threading model asks, with the two outside components' class
// objects registered for the whole run.
#include "tests/dll/doubles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <shellapi.h>

namespace client {

namespace {
Paths g_paths;
}

const Paths& paths() { return g_paths; }
void setPaths(const Paths& p) { g_paths = p; }

std::vector<std::uint8_t> readFile(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string narrow(const wchar_t* s) {
    std::string out;
    if (!s) return "(null)";
    for (; *s; ++s) out += *s < 0x80 ? static_cast<char>(*s) : '?';
    return out;
}

std::string narrow(const std::wstring& s) { return narrow(s.c_str()); }

}  // namespace client

namespace {

bool takeOption(const std::wstring& arg, const wchar_t* name, std::wstring& into) {
    const std::wstring prefix = std::wstring(L"--") + name + L"=";
    if (arg.compare(0, prefix.size(), prefix) != 0) return false;
    into = arg.substr(prefix.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);

    // The paths hold spaces and apostrophes: read them from the wide command line.
    int wargc = 0;
    LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    client::Paths p;
    for (int i = 1; wargv && i < wargc; ++i) {
        const std::wstring arg = wargv[i];
        takeOption(arg, L"dll", p.dll) || takeOption(arg, L"kvlib", p.kvLib) || takeOption(arg, L"data", p.data);
    }
    LocalFree(wargv);
    client::setPaths(p);
    if (p.dll.empty() || p.kvLib.empty() || p.data.empty()) {
        std::fprintf(stderr, "usage: dll_client_test --dll=PATH --kvlib=PATH --data=FOLDER [gtest flags]\n");
        return 2;
    }

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "CoInitializeEx failed\n");
        return 2;
    }
    client::World::install();
    const int result = RUN_ALL_TESTS();
    client::World::uninstall();
    CoUninitialize();
    return result;
}
