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

// The capture component: it plays files, or records from the default audio
// input device, into its data targets (the encoders connected to it).
//
// The capture format is a contract with the targets: 16-bit or 8-bit mono
// PCM at the set rate. Properties "SamplesPerSec" (8000 to 192000),
// "BitsPerSample" (8 or 16) and "Channels" (1: targets always get mono, and
// stereo files are averaged) take wide decimal strings; 16000 Hz, 16-bit
// until changed. Names are exact; an unknown name or a value out of range is
// E_INVALIDARG and changes nothing. While targets are connected the format is
// theirs: a change of rate or width is E_KV_FORMAT_FIXED (setting the value
// it has succeeds), so nothing changes the stream under an encoder.
//
// Data targets are registrations, not references: the recorder keeps raw
// pointers, and a target's owner must take it off (RemoveDataTarget) before
// it goes. An encoder does so when its last sink goes, when it moves to
// another recorder and in its final release; a reference here would make a
// cycle with the encoder's own reference to the recorder, and keep every
// connected encoder alive whatever its client released. A target must answer
// IKvAudioEncoder (E_NOINTERFACE otherwise); adding the same pointer again
// keeps one entry and answers S_FALSE, as does removing a pointer that is not
// registered. RemoveDataTarget never calls the object, which may be in its
// final release.
//
// CaptureFile plays a file (see PcmReader; raw files are taken at the current
// capture rate): it reads it in bounded pieces, converts each to the capture
// format with PcmConverter (nothing at all when the formats agree), and pushes
// the converted stream, on the calling thread, to every data target through
// OnAudioData in pieces of chunkBytes bytes (the last may be shorter), so that
// memory stays the same whatever the length of the file. Each piece goes to
// the targets registered when it starts, in the order they were added, each
// held for the call and each given its own copy, skipping any that a target
// before it took off. At the end (also after a read failure half way) every
// target that answers IKvAudioEncoderControl is flushed, so that what an
// encoder still holds comes out and the next capture starts a stream of its
// own.
//
// CaptureFile refuses, before reading anything: no data target
// (E_KV_NO_TARGET: nothing would hear it), a file that an open FileSink or
// WavFileTarget of this process will replace at its Close (E_KV_INPUT_IN_USE), E_POINTER,
// E_INVALIDARG (chunkBytes <= 0, or a path with broken UTF-16); then the
// failures of PcmReader, or E_KV_CONVERSION. S_OK when the file went out.
//
// Start records from the audio input device (made on first use by
// makeCaptureDevice, unless one was given at construction) at the current
// capture format; every buffer it hands back goes to the data targets as one
// piece, by the same rules as a file's. Start without a data target is
// E_KV_NO_TARGET. Stop ends it (S_FALSE when not recording) and flushes the
// targets; so does the device stopping by itself. The final release stops it
// too, and what the device hands back then goes nowhere. While recording,
// SetProperty and CaptureFile answer E_KV_RECORDING.
//
// Every failure, through either interface, leaves a description (with the
// path or property in it) as IErrorInfo; scripts use IKvRecorder, the
// default interface, whose methods are the same with BSTR arguments: there a
// null string is the empty one, as automation has it, where IKvAudioRecorder
// answers E_POINTER.
class CKvAudioRecorder
    : public kv::com::implements<CKvAudioRecorder, ComponentDispatch<IKvRecorder>, NoTypeInfo<IKvAudioRecorder>,
                                 kv::com::alias<IDispatch, IKvRecorder>,
                                 kv::com::SupportsErrorInfo<IKvRecorder, IKvAudioRecorder>>,
      private CaptureListener {
public:
    CKvAudioRecorder() = default;
    explicit CKvAudioRecorder(std::shared_ptr<CaptureDevice> device) : m_device(std::move(device)) {}

    HRESULT STDMETHODCALLTYPE AddDataTarget(IUnknown* target) override;
    HRESULT STDMETHODCALLTYPE RemoveDataTarget(IUnknown* target) override;
    HRESULT STDMETHODCALLTYPE Start() override;
    HRESULT STDMETHODCALLTYPE Stop() override;

    void finalRelease();

    // The same capture from an open reader, without a description; `progress`,
    // when given, hears the input bytes read so far after every piece.
    // Without `flush` the targets keep what they hold at the end. A `rate`
    // (8000 to 192000; 0 for the capture format's) converts the file to that
    // rate instead: the targets take the samples as they come, the way the
    // encoders code theirs as 8 kHz input, so kvencode makes standard 8 kHz
    // streams with it while the format the encoders asked for stays theirs.
    using Progress = std::function<void(std::uint64_t)>;
    HRESULT capture(PcmReader& reader, LONG chunkBytes, const Progress& progress = {}, bool flush = true,
                    DWORD rate = 0);
    WAVEFORMATEX captureFormat() const;
    std::size_t dataTargetCount() const { return m_targets.size(); }

private:
    struct Target {
        IUnknown* key;             // the pointer it was registered with
        IKvAudioEncoder* encoder;  // where the data goes; not a reference
    };

    // Each interface's own spelling, reached only through it: on this class
    // the two would be overloads, and the constness of a string would pick
    // one. Both go to the one path below them.
    HRESULT STDMETHODCALLTYPE CaptureFile(LPCOLESTR path, LONG chunkBytes) override;
    HRESULT STDMETHODCALLTYPE CaptureFile(BSTR path, LONG chunkBytes) override;
    HRESULT STDMETHODCALLTYPE SetProperty(LPCOLESTR name, LPCOLESTR value) override;
    HRESULT STDMETHODCALLTYPE SetProperty(BSTR name, BSTR value) override;
    HRESULT playFile(LPCOLESTR path, LONG chunkBytes);
    HRESULT setFormatProperty(LPCOLESTR name, LPCOLESTR value);

    HRESULT pushAll(PcmReader& reader, std::size_t chunk, const Progress& progress, const WAVEFORMATEX& format);

    bool isRegistered(const Target& target) const;
    // `writable`: the bytes are ours and nothing reads them after the push,
    // so a lone target may be handed them as they are, and write into them.
    void push(const BYTE* pcm, std::size_t length, bool writable, std::vector<BYTE>& copy,
              std::vector<Target>& snapshot);
    // What the targets hold comes out: the end of a capture.
    void flushTargets();
    bool recording() const { return m_device && m_device->recording(); }

    void onCapturedPcm(const BYTE* pcm, std::size_t bytes) override;
    void onCaptureFailed(HRESULT why) override;

    std::shared_ptr<CaptureDevice> m_device;
    bool m_releasing = false;  // what the device still hands back then goes nowhere
    kv::com::ModuleLock m_moduleLock;

    std::vector<Target> m_targets;
    DWORD m_samplesPerSec = 16000;
    WORD m_bitsPerSample = 16;
};

}  // namespace kv::components
