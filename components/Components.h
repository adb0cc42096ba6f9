#pragma once

// Our own stand-ins for the components outside the encoder module: the
// shared-object registry, a capture component (from the audio input device or
// from a file), and sinks. Tests, the command-line tool and the demo use
// them; the module does not.

#include <cstdint>
#include <string>

#include "com/Barrier.h"
#include "com/Dispatch.h"
#include "com/ErrorInfo.h"
#include "com/NoTypeInfo.h"
#include "interfaces/Interfaces.h"
#include "platform/win32.h"

namespace kv::components {

using OleString = std::basic_string<OLECHAR>;

using kv::CLSID_KvAudioRecorder;
using kv::CLSID_KvObjectRegistry;
using kv::kRecorderName;
using kv::com::NoTypeInfo;

// Leaves `hr` described for scripts in the words `describe` appends to the
// text it is handed, and returns it; without memory for the words, `hr` goes
// back undescribed rather than the barrier's out-of-memory status.
template <class Describe>
HRESULT describedFailure(HRESULT hr, const OLECHAR* source, REFIID iid, Describe&& describe) noexcept {
    kv::com::guarded([&] {
        kv::com::ErrorText text;
        describe(text);
        return kv::com::reportError(hr, source, iid, text);
    });
    return hr;
}

// The words of descriptions, and a count as a message shows it.
using kv::com::operator<<;
inline kv::com::ErrorText& operator<<(kv::com::ErrorText& text, long long n) {
    return text << std::to_string(n).c_str();
}

// A count as a LONG property shows it: the largest LONG past that.
inline LONG saturated(long long n) { return n > 0x7FFFFFFF ? LONG{0x7FFFFFFF} : static_cast<LONG>(n); }

// The data of a call that hands over bytes: null with length 0 is no data;
// null with a length, or a negative length, is E_POINTER / E_INVALIDARG.
inline HRESULT checkBlock(const BYTE* data, LONG length) {
    if (length < 0) return E_INVALIDARG;
    if (!data && length > 0) return E_POINTER;
    return S_OK;
}

// The classes' scripting side: each answers IDispatch with its dual default
// interface, described by KvLib (registered by KvAudioComponents.dll).
template <class I>
using ComponentDispatch = kv::com::DispatchImpl<I, kv::LIBID_KvLib, 1, 0>;

inline constexpr CLSID CLSID_KvFileSink = kv::com::guid("{9B4D24E1-05A5-478A-95E7-3146561265A6}");
inline constexpr CLSID CLSID_KvMemorySink = kv::com::guid("{8CEA055D-238B-4512-BC78-D45099838CF1}");
inline constexpr CLSID CLSID_KvPlayer = kv::com::guid("{623E690F-C93B-441F-8364-38735B8D95C8}");
inline constexpr CLSID CLSID_KvWavFileTarget = kv::com::guid("{FD4766C0-E032-4EB6-9412-FA06D4DAEF5B}");

// The version-independent ProgIDs, which are also the source of the errors
// each class reports to automation clients.
inline constexpr const OLECHAR* kRegistryProgId = KV_W("KvAudioComponents.Registry");
inline constexpr const OLECHAR* kRecorderProgId = KV_W("KvAudioComponents.Recorder");
inline constexpr const OLECHAR* kFileSinkProgId = KV_W("KvAudioComponents.FileSink");
inline constexpr const OLECHAR* kMemorySinkProgId = KV_W("KvAudioComponents.MemorySink");
inline constexpr const OLECHAR* kPlayerProgId = KV_W("KvAudioComponents.Player");
inline constexpr const OLECHAR* kWavFileTargetProgId = KV_W("KvAudioComponents.WavFileTarget");

// Failures of CKvAudioRecorder::CaptureFile besides E_POINTER (no path),
// E_INVALIDARG (chunk size of 0 or less), E_ACCESSDENIED (the file exists but
// cannot be opened) and E_OUTOFMEMORY.
constexpr HRESULT makeError(std::uint32_t code) { return static_cast<HRESULT>(code); }
inline constexpr HRESULT E_KV_FILE_NOT_FOUND = makeError(0x80070002);  // as Win32 ERROR_FILE_NOT_FOUND
inline constexpr HRESULT E_KV_READ_FAULT = makeError(0x8007001E);      // as Win32 ERROR_READ_FAULT
inline constexpr HRESULT E_KV_NOT_WAVE = makeError(0x80040200);        // not a RIFF WAVE file, or a broken one
inline constexpr HRESULT E_KV_NOT_PCM = makeError(0x80040201);         // samples in a format not decoded (ADPCM, ...)
inline constexpr HRESULT E_KV_UNSUPPORTED = makeError(0x80040202);     // a layout we do not convert
inline constexpr HRESULT E_KV_CONVERSION = makeError(0x80040203);      // the converter refused the formats
inline constexpr HRESULT E_KV_RECORDING = makeError(0x80040204);       // not while the device records
inline constexpr HRESULT E_KV_NOT_OPEN = makeError(0x80040205);        // a file sink, target or player not open
inline constexpr HRESULT E_KV_NO_TARGET = makeError(0x80040206);       // nothing is connected to hear a capture
inline constexpr HRESULT E_KV_FORMAT_FIXED = makeError(0x80040207);    // fixed while encoders are connected
inline constexpr HRESULT E_KV_INPUT_IN_USE = makeError(0x80040208);    // an open file sink replaces the input
inline constexpr HRESULT E_KV_SINK_FULL = makeError(0x80040209);       // a memory sink or WAVE file reached its limit
inline constexpr HRESULT E_KV_ALREADY_OPEN = makeError(0x8004020A);    // not while a file or device is open
inline constexpr HRESULT E_KV_PLAYER_STALLED = makeError(0x8004020B);  // the player's queue is full and stays full
inline constexpr HRESULT E_KV_PATH_NOT_FOUND = makeError(0x80070003);  // as Win32 ERROR_PATH_NOT_FOUND: no such folder

// Makes the registry and the capture component creatable with CoCreateInstance
// in this process (the calling thread must have initialised COM). Nested calls
// are counted: S_FALSE when already registered, and only the last
// RevokeComponents takes the class objects away.
//
// The registry is one per apartment: every CoCreateInstance in an apartment
// hands out the same object, so what one party enters the others there
// find. The registering apartment's lives until the class objects are
// revoked and its last user lets go; call RevokeComponents there, as
// CoRevokeClassObject wants.
HRESULT RegisterComponents();
void RevokeComponents();

// Registration for the lifetime of a scope.
class ComponentRegistration {
public:
    ComponentRegistration() : m_hr(RegisterComponents()) {}
    ~ComponentRegistration() {
        if (SUCCEEDED(m_hr)) RevokeComponents();
    }
    ComponentRegistration(const ComponentRegistration&) = delete;
    ComponentRegistration& operator=(const ComponentRegistration&) = delete;

    HRESULT status() const { return m_hr; }

private:
    HRESULT m_hr;
};

}  // namespace kv::components
