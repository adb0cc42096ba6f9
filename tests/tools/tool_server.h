#pragma once

// How kvencode reaches the encoder server where the tests run. On win32 it
// creates the classes through their registration and, where they are not
// registered (as in a fresh test prefix), loads the KvAudioEncoder.dll beside
// it and says so. On host there are no DLLs: the server is linked into the
// tool, which registers it for its own run.

#include <filesystem>
#include <string>
#include <utility>

#include "platform/win32.h"

namespace kvtest {

// The stderr line of a tool in `toolFolder` that finds the classes not
// registered and turns to the server beside it; empty where the tool carries
// the server in itself.
std::string fallbackNote(const std::filesystem::path& toolFolder);

// True where a copy of the tool alone, without the server beside it, still
// encodes.
bool toolCarriesServer();

// A file and a symbolic link to it, in one folder: the file is the caller's
// to write. On host they are made in `folder` as `name` and soft-`name`.
// Wine cannot make symbolic links, so on win32 the build made them, for the
// names in.pcm and in.wav, in kvencode-links/ of the build folder.
std::pair<std::filesystem::path, std::filesystem::path> linkedFile(const std::filesystem::path& folder,
                                                                   const std::string& name);

// Runs a command line written in UTF-8 through the platform's command
// interpreter (on win32 through the wide one, so that any file name in it
// survives) and returns its exit status, or -1 when it did not exit.
int runCommand(const std::string& utf8Line);

// The server the tests were built with, registered for the life of the
// object as an installer registers it: on win32 a copy of KvAudioEncoder.dll
// placed in `folder` goes through its DllRegisterServer, and
// DllUnregisterServer at the end. On host there is nothing to register from
// outside the tool.
class RegisteredServer {
public:
    explicit RegisteredServer(const std::filesystem::path& folder);
    ~RegisteredServer();
    RegisteredServer(const RegisteredServer&) = delete;
    RegisteredServer& operator=(const RegisteredServer&) = delete;

    HRESULT status() const { return m_status; }

private:
    HRESULT m_status = S_OK;
    void* m_module = nullptr;
};

}  // namespace kvtest
