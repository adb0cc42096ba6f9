#include "components/AudioRecorder.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "codecs/PCMSampleConvert.h"
#include "components/PcmConverter.h"
#include "components/PcmFile.h"

namespace kv::components {

namespace {

using kv::com::ErrorText;
using kv::com::operator<<;

HRESULT report(HRESULT hr, const ErrorText& text) {
    return kv::com::reportError(hr, kRecorderProgId, IID_IKvRecorder, text);
}

const char* captureProblem(HRESULT hr) {
    switch (hr) {
        case E_KV_FILE_NOT_FOUND:
            return "file not found";
        case E_ACCESSDENIED:
            return "access denied";
        case E_KV_READ_FAULT:
            return "read error";
        case E_KV_NOT_WAVE:
            return "not a WAVE file, or a broken one (raw 16-bit input must be named .pcm or .raw)";
        case E_KV_NOT_PCM:
            return "the samples are not PCM";
        case E_KV_UNSUPPORTED:
            return "a PCM layout or size that cannot be converted";
        case E_KV_CONVERSION:
            return "cannot convert to the capture format";
        case E_KV_RECORDING:
            return "the recorder is recording from the device";
        case E_INVALIDARG:
            return "the chunk size must be 1 byte or more, and the path valid";
        case E_OUTOFMEMORY:
            return "out of memory";
        default:
            return "failed";
    }
}

std::string hex(HRESULT hr) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) text += digits[(static_cast<std::uint32_t>(hr) >> shift) & 0xF];
    return text;
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

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::SetProperty(LPCOLESTR name, LPCOLESTR value) {
    if (!name || !value) return E_POINTER;
    if (recording()) return E_KV_RECORDING;  // the device was opened at the old format
    const std::optional<DWORD> v = decimal(value);
    if (!v) return E_INVALIDARG;
    if (equals(name, "SamplesPerSec")) {
        if (*v < 8000 || *v > 192000) return E_INVALIDARG;
        m_samplesPerSec = *v;
    } else if (equals(name, "BitsPerSample")) {
        if (*v != 8 && *v != 16) return E_INVALIDARG;
        m_bitsPerSample = static_cast<WORD>(*v);
    } else if (equals(name, "Channels")) {
        if (*v != 1 && *v != 2) return E_INVALIDARG;
        m_channels = static_cast<WORD>(*v);
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

WAVEFORMATEX CKvAudioRecorder::captureFormat() const {
    return codecs::pcmWaveFormat(m_channels, m_samplesPerSec, m_bitsPerSample);
}

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::AddDataTarget(IUnknown* target) {
    if (!target) return E_POINTER;
    if (std::any_of(m_targets.begin(), m_targets.end(), [&](const Target& t) { return t.key == target; }))
        return S_FALSE;
    kv::com::ComPtr<IKvAudioEncoder> encoder;
    if (FAILED(target->QueryInterface(IID_IKvAudioEncoder, encoder.put_void())) || !encoder) return E_NOINTERFACE;
    try {
        m_targets.push_back({target, encoder.get()});
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
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

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::CaptureFile(LPCOLESTR path, LONG chunkBytes) {
    if (!path) return E_POINTER;
    if (recording()) return E_KV_RECORDING;
    std::filesystem::path file;
    try {
        std::u16string units;
        for (LPCOLESTR p = path; *p; ++p) units.push_back(static_cast<char16_t>(*p));
        file = std::filesystem::path(units);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception&) {
        return E_INVALIDARG;
    }
    return capture(file, chunkBytes);
}

HRESULT CKvAudioRecorder::capture(const std::filesystem::path& path, LONG chunkBytes) {
    if (chunkBytes <= 0) return E_INVALIDARG;
    PcmReader reader;
    const HRESULT hr = reader.open(path, m_samplesPerSec);
    if (FAILED(hr)) return hr;
    return capture(reader, chunkBytes);
}

HRESULT CKvAudioRecorder::capture(PcmReader& reader, LONG chunkBytes, const Progress& progress) {
    if (chunkBytes <= 0) return E_INVALIDARG;
    m_pushed = 0;
    // A target may drop the last reference to this object while it is called.
    kv::com::ComPtr<IKvAudioRecorder> self(this);
    PcmConverter converter;
    if (!converter.init(reader.layout().format, captureFormat())) return E_KV_CONVERSION;
    const bool listened = !m_targets.empty();
    const std::size_t chunk = static_cast<std::size_t>(chunkBytes);
    // Input is read this much at a time: small enough to stay in cache, large
    // enough that a call per piece costs nothing.
    constexpr std::size_t kPiece = 64 * 1024;
    try {
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
            for (; at < filled && (filled - at >= chunk || ended); at += chunk) {
                const std::size_t n = std::min(chunk, filled - at);
                if (listened) push(pending.data() + at, n, true, copy, snapshot);
            }
            at = std::min(at, filled);
            std::copy(pending.begin() + static_cast<std::ptrdiff_t>(at),
                      pending.begin() + static_cast<std::ptrdiff_t>(filled), pending.begin());
            filled -= at;
            if (progress) progress(read);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return listened ? S_OK : S_FALSE;
}

void CKvAudioRecorder::push(const BYTE* pcm, std::size_t length, bool spare, std::vector<BYTE>& copy,
                            std::vector<Target>& snapshot) {
    if (spare && m_targets.size() == 1) {
        // One target, which nobody hears after: no snapshot, no copy.
        IKvAudioEncoder* const encoder = m_targets.front().encoder;
        encoder->AddRef();
        encoder->OnAudioData(const_cast<BYTE*>(pcm), static_cast<LONG>(length));
        encoder->Release();
        m_pushed += length;
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
    m_pushed += length;
}

// ---- scripts and the device ------------------------------------------------------

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::CaptureFile(BSTR path, LONG chunkBytes) {
    const HRESULT hr = CaptureFile(static_cast<LPCOLESTR>(path ? path : KV_W("")), chunkBytes);
    if (SUCCEEDED(hr)) return S_OK;
    ErrorText text;
    text << "cannot capture '" << path << "': " << captureProblem(hr);
    return report(hr, text);
}

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::SetProperty(BSTR name, BSTR value) {
    const LPCOLESTR n = name ? name : KV_W(""), v = value ? value : KV_W("");
    const HRESULT hr = SetProperty(n, v);
    if (SUCCEEDED(hr)) return S_OK;
    ErrorText text;
    text << "cannot set " << n << " to '" << v << "': ";
    text << (hr == E_KV_RECORDING ? "not while recording"
                                  : "SamplesPerSec takes 8000 to 192000, BitsPerSample 8 or 16, Channels 1 or 2");
    return report(hr, text);
}

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::Start() {
    if (recording()) return S_FALSE;
    HRESULT hr = S_OK;
    if (!m_device) {
        hr = kv::com::guarded([&] {
            m_device = makeCaptureDevice();
            return m_device ? S_OK : E_OUTOFMEMORY;
        });
    }
    if (SUCCEEDED(hr)) hr = m_device->start(captureFormat(), *this);
    if (SUCCEEDED(hr)) return S_OK;
    ErrorText text;
    text << "cannot start recording: ";
    text << (hr == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) ? "no audio input device"
                                                                  : "the audio input device failed");
    text << " (" << hex(hr).c_str() << ")";
    return report(hr, text);
}

HRESULT STDMETHODCALLTYPE CKvAudioRecorder::Stop() {
    if (!recording()) return S_FALSE;
    // The last buffers come back through onCapturedPcm, which may end with a
    // target letting go of this object.
    kv::com::ComPtr<IKvAudioRecorder> self(this);
    const HRESULT hr = m_device->stop();
    if (SUCCEEDED(hr)) return S_OK;
    ErrorText text;
    text << "stopping the audio input device failed (" << hex(hr).c_str() << ")";
    return report(hr, text);
}

void CKvAudioRecorder::onCapturedPcm(const BYTE* pcm, std::size_t bytes) {
    if (m_releasing || !pcm || bytes == 0 || m_targets.empty()) return;
    kv::com::ComPtr<IKvAudioRecorder> self(this);
    try {
        std::vector<BYTE> copy;
        std::vector<Target> snapshot;
        push(pcm, bytes, false, copy, snapshot);
    } catch (const std::bad_alloc&) {
        // A buffer lost, as a device overrun would lose it.
    }
}

// The device has closed itself; Start may open it again.
void CKvAudioRecorder::onCaptureFailed(HRESULT) {}

void CKvAudioRecorder::finalRelease() {
    m_releasing = true;
    if (recording()) m_device->stop();
}

}  // namespace kv::components
