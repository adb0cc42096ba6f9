// win32: the DLL the build put in bin\, beside the tool and the tests.
#include "tests/tools/tool_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace kvtest {

namespace {

using EntryFn = HRESULT(STDAPICALLTYPE*)();

std::filesystem::path programFolder() {
    std::vector<wchar_t> path(32768);
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::filesystem::path(std::wstring(path.data(), n)).parent_path();
}

std::wstring fullPath(const std::filesystem::path& p) {
    std::vector<wchar_t> full(32768);
    const DWORD n = GetFullPathNameW(p.wstring().c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    return std::wstring(full.data(), n);
}

std::string narrow(const std::wstring& text) {
    const int n =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

EntryFn entry(void* module, const char* name) {
    return reinterpret_cast<EntryFn>(reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(module), name)));
}

}  // namespace

int runCommand(const std::string& utf8Line) { return _wsystem(wide(utf8Line).c_str()); }

std::string fallbackNote(const std::filesystem::path& toolFolder) {
    const std::wstring server = fullPath(toolFolder / "KvAudioEncoder.dll");
    return "kvencode: KvAudioEncoder classes not registered; using " + narrow(server);
}

bool toolCarriesServer() { return false; }

// The tests run in the build folder.
std::pair<std::filesystem::path, std::filesystem::path> linkedFile(const std::filesystem::path&,
                                                                   const std::string& name) {
    const std::filesystem::path folder = "kvencode-links";
    return {folder / name, folder / ("soft-" + name)};
}

RegisteredServer::RegisteredServer(const std::filesystem::path& folder) {
    const std::filesystem::path copy = folder / "KvAudioEncoder.dll";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!CopyFileW((programFolder() / "KvAudioEncoder.dll").wstring().c_str(), copy.wstring().c_str(), FALSE)) {
        m_status = HRESULT_FROM_WIN32(GetLastError());
        return;
    }
    m_module = LoadLibraryW(fullPath(copy).c_str());
    if (!m_module) {
        m_status = HRESULT_FROM_WIN32(GetLastError());
        return;
    }
    const EntryFn registerServer = entry(m_module, "DllRegisterServer");
    m_status = registerServer ? registerServer() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

RegisteredServer::~RegisteredServer() {
    if (!m_module) return;
    // Unregistered even when registration stopped half way: what it wrote
    // must not outlast the test in the shared prefix.
    const EntryFn unregisterServer = entry(m_module, "DllUnregisterServer");
    const HRESULT hr = unregisterServer ? unregisterServer() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(hr, S_OK) << "unregistering the server copy";
    FreeLibrary(static_cast<HMODULE>(m_module));
}

}  // namespace kvtest
