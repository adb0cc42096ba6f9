// Host: the tool links the server in and registers it in its own process.
#include "tests/tools/tool_server.h"

#include <sys/wait.h>

#include <cstdlib>

namespace kvtest {

std::string fallbackNote(const std::filesystem::path&) { return {}; }

bool toolCarriesServer() { return true; }

std::pair<std::filesystem::path, std::filesystem::path> linkedFile(const std::filesystem::path& folder,
                                                                   const std::string& name) {
    const std::filesystem::path link = folder / ("soft-" + name);
    std::filesystem::create_symlink(name, link);
    return {folder / name, link};
}

int runCommand(const std::string& utf8Line) {
    const int status = std::system(utf8Line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RegisteredServer::RegisteredServer(const std::filesystem::path&) {}

RegisteredServer::~RegisteredServer() = default;

}  // namespace kvtest
