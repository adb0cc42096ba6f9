#pragma once

// The thread test and the soak on host: the server is linked into the
// program, registered in the stand-in registry and announced under the
// program's path, so CoCreateInstance reaches it as it reaches a DLL.

#include "com/ServerExports.h"
#include "interfaces/Interfaces.h"

#include "tests/threads/process.h"

#include <cstdint>
#include <string>
#include <vector>

#define ENV_W(s) KV_W(s)

namespace env {

using ::IKvAudioEncoder;
using ::IKvAudioRecorder;
using ::IKvAudioSink;
using ::IKvObjectRegistry;

inline const IID& IID_Unknown = ::IID_IUnknown;
inline const IID& IID_Dispatch = ::IID_IDispatch;
inline const IID& IID_ClassFactory = ::IID_IClassFactory;
inline const IID& IID_KvAudioEncoder = ::IID_IKvAudioEncoder;
inline const IID& IID_KvAudioSink = ::IID_IKvAudioSink;
inline const IID& IID_KvAudioRecorder = ::IID_IKvAudioRecorder;
inline const IID& IID_KvObjectRegistry = ::IID_IKvObjectRegistry;
inline constexpr CLSID CLSID_ObjectRegistry = kv::CLSID_KvObjectRegistry;

// The host has no type-library loader: every IDispatch lookup fails alike.
inline constexpr bool kTypeInformation = false;

// The soak's cycles per class when none are asked for.
inline constexpr long kDefaultCycles = 2000;

// Registers the server for the life of the object.
class Server {
public:
    Server();
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    HRESULT status() const { return m_status; }

private:
    std::u16string m_path;
    HRESULT m_status;
};

inline const char* const kUsageNames[] = {"heap in use", "resident", "open descriptors"};  // as Usage's fields
// Options: --cycles=N

}  // namespace env
