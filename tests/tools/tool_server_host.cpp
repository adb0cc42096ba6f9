// Host: the tool links the server in and registers it in its own process.
#include "tests/tools/tool_server.h"

namespace kvtest {

std::string fallbackNote(const std::filesystem::path&) { return {}; }

bool toolCarriesServer() { return true; }

RegisteredServer::RegisteredServer(const std::filesystem::path&) {}

RegisteredServer::~RegisteredServer() = default;

}  // namespace kvtest
