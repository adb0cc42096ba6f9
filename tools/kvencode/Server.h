#pragma once

// Where kvencode's encoder objects come from: the KvAudioEncoder server, reached
// the way any client reaches it, through CoCreateInstance of its registered
// classes. Each platform has its own source (Server_win32.cpp, Server_host.cpp)
// for what it takes to get there.

#include <memory>
#include <string>

#include "interfaces/Interfaces.h"

namespace kv::tools {

class EncoderServer {
public:
    // COM must be initialised on the calling thread for the whole life of the
    // object, and every encoder it handed out released before it is destroyed.
    EncoderServer();
    ~EncoderServer();
    EncoderServer(const EncoderServer&) = delete;
    EncoderServer& operator=(const EncoderServer&) = delete;

    // S_OK, or why the server cannot be offered at all.
    HRESULT status() const;

    // A new encoder object of the class `clsid`. When the server had to be found
    // another way than through its registration, `note` says how, in one line
    // for the user; otherwise it is left empty.
    HRESULT createEncoder(REFCLSID clsid, IKvAudioEncoder** encoder, std::string& note);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace kv::tools
