#pragma once

// The thread test and the soak as clients of KvAudioEncoder.dll, registered
// in a throwaway Wine prefix by tests/dll/run_dll_tests.sh: the module is
// reached only through its published identifiers.

#include "tests/dll/client.h"

#include "tests/threads/process.h"

#include <cstdint>
#include <vector>

#define ENV_W(s) L##s

namespace env {

using client::IKvAudioEncoder;
using client::IKvAudioRecorder;
using client::IKvAudioSink;
using client::IKvObjectRegistry;

inline const IID& IID_Unknown = ::IID_IUnknown;
inline const IID& IID_Dispatch = ::IID_IDispatch;
inline const IID& IID_ClassFactory = ::IID_IClassFactory;
inline constexpr IID IID_KvAudioEncoder = client::IID_IKvAudioEncoder;
inline constexpr IID IID_KvAudioSink = client::IID_IKvAudioSink;
inline constexpr IID IID_KvAudioRecorder = client::IID_IKvAudioRecorder;
inline constexpr IID IID_KvObjectRegistry = client::IID_IKvObjectRegistry;
inline constexpr CLSID CLSID_ObjectRegistry = client::CLSID_KvObjectRegistry;

// KvLib is registered for the run, so IDispatch lookups succeed.
inline constexpr bool kTypeInformation = true;

inline constexpr long kDefaultCycles = 500;

// The module is registered by the script; this registers KvLib, which the
// outside components ship, for the life of the object.
class Server {
public:
    Server();
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    HRESULT status() const { return m_status; }

private:
    HRESULT m_status;
};

inline const char* const kUsageNames[] = {"heap in use", "committed", "handles"};  // as Usage's fields
// Options: --dll=PATH --kvlib=PATH --data=FOLDER [--cycles=N]

}  // namespace env
