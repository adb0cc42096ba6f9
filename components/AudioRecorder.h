#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "com/ErrorInfo.h"
#include "com/Object.h"
#include "components/CaptureDevice.h"
#include "components/Components.h"
#include "com/NoTypeInfo.h"
#include "components/PcmFile.h"

namespace kv::components {

// The capture component, fed from files instead of a device.
//
// Properties "SamplesPerSec" (8000 to 192000), "BitsPerSample" (8 or 16) and
// "Channels" (1 or 2) take wide decimal strings and set the capture format,
// 16000 Hz, 16-bit mono until changed. Names are exact; an unknown name or a
// value out of range is E_INVALIDARG and changes nothing.
//
// Data targets are registrations, not references: an encoder is held by its
// client, and it takes itself off here in its final release. Holding it would
// keep every connected encoder alive until its client removed the last sink,
// whatever the client released. A target must answer IKvAudioEncoder
// (E_NOINTERFACE otherwise); adding the same pointer again keeps one entry and
// answers S_FALSE, as does removing a pointer that is not registered.
// RemoveDataTarget never calls the object, which may be in its final release.
//
// CaptureFile plays a file (see PcmReader; raw files are taken at the current
// capture rate): it reads it in bounded pieces, converts each to the capture
// format with PcmConverter (nothing at all when the formats agree), and pushes
// the converted stream, on the calling thread, to every data target through
// OnAudioData in pieces of chunkBytes bytes (the last may be shorter), so that
// memory stays the same whatever the length of the file. Each piece goes to
// the targets registered when it starts, in the order they were added, each
// held for the call and each given its own copy, skipping any that a target
// before it took off.
//
// S_OK when the file went out; S_FALSE when no data target was registered at
// the start (the file was still read and converted); else the failure of
// PcmReader, E_POINTER, E_INVALIDARG (chunkBytes <= 0, or a path with broken
// UTF-16) or E_KV_CONVERSION. A read failure half way leaves what was pushed.
//
// Start records from the audio input device (made on first use by
// makeCaptureDevice, unless one was given at construction) at the current
// capture format; every buffer it hands back goes to the data targets as one
// piece, by the same rules as a file's. Stop ends it (S_FALSE when not
// recording); so does the final release. While recording, SetProperty and
// CaptureFile answer E_KV_RECORDING.
//
// Scripts use IKvRecorder, the default interface: the same methods with BSTR
// arguments, whose failures carry a description (with the path or property
// in it) as IErrorInfo.
class CKvAudioRecorder
    : public kv::com::implements<CKvAudioRecorder, ComponentDispatch<IKvRecorder>, NoTypeInfo<IKvAudioRecorder>,
                                 kv::com::alias<IDispatch, IKvRecorder>, kv::com::SupportsErrorInfo<IKvRecorder>>,
      private CaptureListener {
public:
    CKvAudioRecorder() = default;
    explicit CKvAudioRecorder(std::unique_ptr<CaptureDevice> device) : m_device(std::move(device)) {}

    HRESULT STDMETHODCALLTYPE CaptureFile(LPCOLESTR path, LONG chunkBytes) override;
    HRESULT STDMETHODCALLTYPE SetProperty(LPCOLESTR name, LPCOLESTR value) override;
    HRESULT STDMETHODCALLTYPE AddDataTarget(IUnknown* target) override;
    HRESULT STDMETHODCALLTYPE RemoveDataTarget(IUnknown* target) override;

    HRESULT STDMETHODCALLTYPE CaptureFile(BSTR path, LONG chunkBytes) override;
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE SetProperty(BSTR name, BSTR value) override;

    void finalRelease();

    // The same capture with a path of the platform's own kind.
    HRESULT capture(const std::filesystem::path& path, LONG chunkBytes);
    // The same from an open reader; `progress`, when given, hears the input
    // bytes read so far after every piece.
    using Progress = std::function<void(std::uint64_t)>;
    HRESULT capture(PcmReader& reader, LONG chunkBytes, const Progress& progress = {});
    // The bytes the last capture pushed to its targets.
    std::uint64_t pushedBytes() const { return m_pushed; }
    WAVEFORMATEX captureFormat() const;
    std::size_t dataTargetCount() const { return m_targets.size(); }

private:
    struct Target {
        IUnknown* key;             // the pointer it was registered with
        IKvAudioEncoder* encoder;  // where the data goes; not a reference
    };

    bool isRegistered(const Target& target) const;
    // `spare`: nothing reads the bytes after the push, so a target may be handed them as they are.
    void push(const BYTE* pcm, std::size_t length, bool spare, std::vector<BYTE>& copy, std::vector<Target>& snapshot);
    bool recording() const { return m_device && m_device->recording(); }

    void onCapturedPcm(const BYTE* pcm, std::size_t bytes) override;
    void onCaptureFailed(HRESULT why) override;

    std::unique_ptr<CaptureDevice> m_device;
    bool m_releasing = false;  // what the device still hands back then goes nowhere
    kv::com::ModuleLock m_moduleLock;

    std::vector<Target> m_targets;
    DWORD m_samplesPerSec = 16000;
    WORD m_bitsPerSample = 16;
    WORD m_channels = 1;
    std::uint64_t m_pushed = 0;
};

}  // namespace kv::components
