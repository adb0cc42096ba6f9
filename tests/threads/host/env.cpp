#include "env.h"
#include "tests/published_ids.h"

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace env {

namespace {
long g_cycles = 0;

std::u16string programPath() {
    std::vector<OLECHAR> path(32768);
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::u16string(path.data(), n);
}
}  // namespace

Server::Server() : m_path(programPath()) {
    const published::TypeLibrary& lib = published::kEncoderLib;
    kv::host::setModuleTypeLib(m_path.c_str(), {published::guid<GUID>(lib.libId), lib.lcid, SYS_WIN32, 1, 0, 0},
                               published::text<OLECHAR>(lib.libName).c_str(),
                               published::text<OLECHAR>(lib.libHelp).c_str());
    m_status = DllRegisterServer();
    kv::host::addLinkedModule(m_path, DllGetClassObject, DllCanUnloadNow);
}

Server::~Server() {
    DllUnregisterServer();
    kv::host::forgetModuleTypeLib(m_path.c_str());
}

HRESULT canUnloadNow() { return DllCanUnloadNow(); }

std::vector<std::uint8_t> readData(const char* relativePath) {
    std::ifstream in(std::string(KV_TEST_DATA_DIR) + "/" + relativePath, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Usage usage() {
    Usage u{};
    u.heapBytes = static_cast<long long>(mallinfo2().uordblks);
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    u.memoryBytes = static_cast<long long>(resident) * sysconf(_SC_PAGESIZE);
    if (DIR* d = opendir("/proc/self/fd")) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++u.handles;
        closedir(d);
        --u.handles;  // the one opendir holds
    }
    return u;
}

void parseOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--cycles=", 9) == 0) g_cycles = std::strtol(argv[i] + 9, nullptr, 10);
}

long cyclesOption() { return g_cycles > 0 ? g_cycles : kDefaultCycles; }

}  // namespace env
