#include "components/AudioRecorder.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "codecs/PCMSampleConvert.h"
#include "components/PcmConverter.h"
#include "components/PcmFile.h"
#include "components/Sinks.h"

namespace kv::components {

namespace {

using kv::com::Clipped;
using kv::com::ErrorText;
using kv::com::Hex;
using kv::com::operator<<;

template <class Describe>
HRESULT report(HRESULT hr, Describe&& describe) noexcept {
    return describedFailure(hr, kRecorderProgId, IID_IKvRecorder, describe);
}

// Why a capture failed, where the reader did not say it better.
const char* captureProblem(HRESULT hr) {
    switch (hr) {
        case E_KV_FILE_NOT_FOUND:
            return "file not found";
        case E_KV_PATH_NOT_FOUND:
            return "the folder does not exist";
        case E_ACCESSDENIED:
            return "access denied";
        case E_KV_READ_FAULT:
            return "read error";
        case E_KV_NOT_WAVE:
            return "not a WAVE file, or a broken one (raw 16-bit input must be named .pcm or .raw)";
        case E_KV_NOT_PCM:
            return "the samples are in a format that is not decoded";
        case E_KV_UNSUPPORTED:
            return "a sample layout or size that cannot be converted";
        case E_KV_CONVERSION:
            return "cannot convert to the capture format";
        case E_KV_RECORDING:
            return "the recorder is recording from the device";
        case E_KV_NO_TARGET:
            return "nothing is connected to hear it: enter this recorder in the registry as \"KvCom.KvAudio."
                   "KvAudioRecorder\" before the encoders' first AddSink";
        case E_KV_INPUT_IN_USE:
            return "an open FileSink or WavFileTarget writes this file and will replace it at its Close";
        case E_INVALIDARG:
            return "the chunk size must be 1 byte or more, and the path valid";
        case E_OUTOFMEMORY:
            return "out of memory";
        default:
            return "failed";
    }
}

bool equals(LPCOLESTR a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (*a != static_cast<OLECHAR>(*b)) return false;
    return *a == 0 && *b == 0;
}

// Digits only, no sign or blanks; anything else or more than nine digits is
// not a value.
std::optional<DWORD> decimal(LPCOLESTR text) {
    DWORD value = 0;
    int digits = 0;
    for (; *text; ++text, ++digits) {
        if (*text < '0' || *text > '9' || digits == 9) return std::nullopt;
        value = value * 10 + static_cast<DWORD>(*text - '0');
    }
    if (digits == 0) return std::nullopt;
    return value;
}

}  // namespace

// ---- the capture format -----------------------------------------------------

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::SetProperty(LPCOLESTR name, LPCOLESTR value) {
    return setFormatProperty(name, value);
}

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::SetProperty(BSTR name, BSTR value) {
    return setFormatProperty(name ? name : KV_W(""), value ? value : KV_W(""));
}

HRESULT CKvAudioRecorder::setFormatProperty(LPCOLESTR name, LPCOLESTR value) {
    if (!name || !value)
        return report(E_POINTER, [](ErrorText& text) { text << "cannot set a property: no name or no value given"; });
    const auto refuse = [&](HRESULT hr, const char* why) {
        return report(hr, [&](ErrorText& text) {
            text << "cannot set " << Clipped{name, 40} << " to '" << Clipped{value, 40} << "': " << why;
        });
    };
    // The device was opened at the old format.
    if (recording()) return refuse(E_KV_RECORDING, "not while recording");
    const std::optional<DWORD> v = decimal(value);
    const bool rate = equals(name, "SamplesPerSec"), bits = equals(name, "BitsPerSample");
    const bool valid = v && ((rate && *v >= 8000 && *v <= 192000) || (bits && (*v == 8 || *v == 16)) ||
                             (equals(name, "Channels") && *v == 1));
    if (!valid)
        return refuse(E_INVALIDARG,
                      "SamplesPerSec takes 8000 to 192000, BitsPerSample 8 or 16, Channels 1 (the capture is "
                      "mono; stereo sources are averaged)");
    const DWORD current = rate ? m_samplesPerSec : (bits ? m_bitsPerSample : 1);
    if (*v != current && !m_targets.empty())
        return refuse(E_KV_FORMAT_FIXED, "the capture format is fixed while encoders are connected");
    if (rate) m_samplesPerSec = *v;
    if (bits) m_bitsPerSample = static_cast<WORD>(*v);
    return S_OK;
}

WAVEFORMATEX CKvAudioRecorder::captureFormat() const {
    return codecs::pcmWaveFormat(1, m_samplesPerSec, m_bitsPerSample);
}

// ---- data targets -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::AddDataTarget(IUnknown* target) {
    if (!target) return E_POINTER;
    if (std::any_of(m_targets.begin(), m_targets.end(), [&](const Target& t) { return t.key == target; }))
        return S_FALSE;
    kv::com::ComPtr<IKvAudioEncoder> encoder;
    if (FAILED(target->QueryInterface(IID_IKvAudioEncoder, encoder.put_void())) || !encoder) return E_NOINTERFACE;
    return kv::com::guarded([&] {
        m_targets.push_back({target, encoder.get()});
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::RemoveDataTarget(IUnknown* target) {
    auto it = std::find_if(m_targets.begin(), m_targets.end(), [&](const Target& t) { return t.key == target; });
    if (!target || it == m_targets.end()) return S_FALSE;
    m_targets.erase(it);
    return S_OK;
}

bool CKvAudioRecorder::isRegistered(const Target& target) const {
    return std::any_of(m_targets.begin(), m_targets.end(),
                       [&](const Target& t) { return t.key == target.key && t.encoder == target.encoder; });
}

// ---- files --------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::CaptureFile(LPCOLESTR path, LONG chunkBytes) {
    return playFile(path, chunkBytes);
}

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::CaptureFile(BSTR path, LONG chunkBytes) {
    return playFile(path ? path : KV_W(""), chunkBytes);
}

HRESULT CKvAudioRecorder::playFile(LPCOLESTR path, LONG chunkBytes) {
    if (!path) return report(E_POINTER, [](ErrorText& text) { text << "cannot capture: no path given"; });
    std::string problem;
    const HRESULT hr = kv::com::guarded([&] {
        if (recording()) return E_KV_RECORDING;
        if (chunkBytes <= 0) return E_INVALIDARG;
        if (m_targets.empty()) return E_KV_NO_TARGET;
        std::filesystem::path file;
        try {
            const std::u16string units(path, path + std::char_traits<OLECHAR>::length(path));
            file = std::filesystem::path(units);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception&) {
            // Not a barrier: the conversion throws for broken UTF-16, which
            // is the caller's argument, not an unexpected failure.
            return E_INVALIDARG;
        }
        // An open file sink or WAVE file target will put its output in this
        // file's place at its Close: the input would be lost to its own encoding.
        if (replacedByOpenFileSink(file)) return E_KV_INPUT_IN_USE;
        PcmReader reader;
        HRESULT opened = reader.open(file, m_samplesPerSec);
        problem = reader.layout().problem;
        if (FAILED(opened)) return opened;
        return capture(reader, chunkBytes);
    });
    if (SUCCEEDED(hr)) return hr;
    return report(hr, [&](ErrorText& text) {
        text << "cannot capture '" << Clipped{path}
             << "': " << (problem.empty() ? captureProblem(hr) : problem.c_str());
    });
}

HRESULT CKvAudioRecorder::capture(PcmReader& reader, LONG chunkBytes, const Progress& progress, bool flush,
                                  DWORD rate) {
    if (chunkBytes <= 0) return E_INVALIDARG;
    WAVEFORMATEX format = captureFormat();
    if (rate != 0) format = codecs::pcmWaveFormat(format.nChannels, rate, format.wBitsPerSample);
    if (m_targets.empty()) return E_KV_NO_TARGET;
    // A target may drop the last reference to this object while it is called.
    kv::com::ComPtr<IKvAudioRecorder> self(this);
    const HRESULT hr =
        kv::com::guarded([&] { return pushAll(reader, static_cast<std::size_t>(chunkBytes), progress, format); });
    if (flush) {
        const HRESULT flushed = kv::com::guarded([&] {
            flushTargets();
            return S_OK;
        });
        if (FAILED(flushed) && SUCCEEDED(hr)) return flushed;
    }
    return hr;
}

HRESULT CKvAudioRecorder::pushAll(PcmReader& reader, std::size_t chunk, const Progress& progress,
                                  const WAVEFORMATEX& format) {
    PcmConverter converter;
    if (!converter.init(reader.layout().format, format)) return E_KV_CONVERSION;
    // Input is read this much at a time: small enough to stay in cache, large
    // enough that a call per piece costs nothing.
    constexpr std::size_t kPiece = 64 * 1024;
    // `pending` holds the converted bytes not pushed yet, in [0, filled);
    // in pass-through it only grows, so nothing is cleared or copied.
    std::vector<BYTE> in, pending, copy;
    std::vector<Target> snapshot;
    // Room for a piece behind what a chunk leaves over, made once: growing
    // it on the way would copy and clear the whole piece each time.
    pending.reserve(kPiece + std::min(chunk, kPiece));
    std::size_t filled = 0;
    std::uint64_t read = 0;
    for (bool ended = false; !ended;) {
        std::size_t got = 0;
        HRESULT hr = S_OK;
        if (converter.passThrough()) {
            if (pending.size() < filled + kPiece) pending.resize(filled + kPiece);
            hr = reader.read(pending.data() + filled, kPiece, got);
            filled += got;
        } else {
            in.resize(kPiece);
            hr = reader.read(in.data(), kPiece, got);
            pending.resize(filled);
            converter.convert(in.data(), got, pending);
            filled = pending.size();
        }
        if (FAILED(hr)) return hr;
        ended = got == 0;
        if (ended && !converter.passThrough()) {
            converter.finish(pending);
            filled = pending.size();
        }
        read += got;
        std::size_t at = 0;
        for (; at < filled && (filled - at >= chunk || ended); at += chunk)
            push(pending.data() + at, std::min(chunk, filled - at), true, copy, snapshot);
        at = std::min(at, filled);
        std::copy(pending.begin() + static_cast<std::ptrdiff_t>(at),
                  pending.begin() + static_cast<std::ptrdiff_t>(filled), pending.begin());
        filled -= at;
        if (progress) progress(read);
    }
    return S_OK;
}

void CKvAudioRecorder::push(const BYTE* pcm, std::size_t length, bool writable, std::vector<BYTE>& copy,
                            std::vector<Target>& snapshot) {
    if (writable && m_targets.size() == 1) {
        // One target, which nobody hears after: no snapshot, no copy.
        IKvAudioEncoder* const encoder = m_targets.front().encoder;
        encoder->AddRef();
        encoder->OnAudioData(const_cast<BYTE*>(pcm), static_cast<LONG>(length));
        encoder->Release();
        return;
    }
    copy.resize(length);
    snapshot = m_targets;  // in the room of the last one
    for (const Target& t : snapshot) t.encoder->AddRef();
    for (const Target& t : snapshot) {
        if (!isRegistered(t)) continue;
        // The pointer is not const: a target that writes into it must not
        // change what the next one hears.
        std::copy_n(pcm, length, copy.begin());
        t.encoder->OnAudioData(copy.data(), static_cast<LONG>(length));
    }
    for (const Target& t : snapshot) t.encoder->Release();
}

void CKvAudioRecorder::flushTargets() {
    const std::vector<Target> snapshot = m_targets;
    for (const Target& t : snapshot) t.encoder->AddRef();
    for (const Target& t : snapshot) {
        kv::com::ComPtr<IKvAudioEncoderControl> control;
        if (isRegistered(t) && SUCCEEDED(t.encoder->QueryInterface(IID_IKvAudioEncoderControl, control.put_void())) &&
            control)
            control->Flush();
    }
    for (const Target& t : snapshot) t.encoder->Release();
}

// ---- the device ---------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::Start() {
    if (recording()) return S_FALSE;
    if (m_targets.empty()) {
        return report(E_KV_NO_TARGET,
                      [](ErrorText& text) { text << "cannot start recording: " << captureProblem(E_KV_NO_TARGET); });
    }
    const HRESULT hr = kv::com::guarded([&] {
        if (!m_device) m_device = makeCaptureDevice();
        return m_device ? m_device->start(captureFormat(), *this) : E_OUTOFMEMORY;
    });
    if (SUCCEEDED(hr)) return S_OK;
    return report(hr, [&](ErrorText& text) {
        text << "cannot start recording: "
             << (hr == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) ? "no audio input device"
                                                                      : "the audio input device failed")
             << " (" << Hex{hr} << ")";
    });
}

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::Stop() {
    if (!recording()) return S_FALSE;
    // The last buffers come back through onCapturedPcm, which may end with a
    // target letting go of this object.
    kv::com::ComPtr<IKvAudioRecorder> self(this);
    const HRESULT hr = m_device->stop();
    kv::com::guarded([&] {
        flushTargets();
        return S_OK;
    });
    if (SUCCEEDED(hr)) return S_OK;
    return report(hr, [&](ErrorText& text) { text << "stopping the audio input device failed (" << Hex{hr} << ")"; });
}

void CKvAudioRecorder::onCapturedPcm(const BYTE* pcm, std::size_t bytes) {
    if (m_releasing || !pcm || bytes == 0 || m_targets.empty()) return;
    kv::com::ComPtr<IKvAudioRecorder> self(this);
    // Without memory for the copies, a buffer is lost, as a device overrun
    // would lose it.
    kv::com::guarded([&] {
        std::vector<BYTE> copy;
        std::vector<Target> snapshot;
        push(pcm, bytes, false, copy, snapshot);
        return S_OK;
    });
}

// The device has closed itself (Start may open it again): the capture has
// ended, and what the targets hold comes out.
void CKvAudioRecorder::onCaptureFailed(HRESULT) {
    if (m_releasing) return;
    kv::com::ComPtr<IKvAudioRecorder> self(this);
    kv::com::guarded([&] {
        flushTargets();
        return S_OK;
    });
}

void CKvAudioRecorder::finalRelease() {
    m_releasing = true;
    if (recording()) m_device->stop();
}

}  // namespace kv::components
