#include "components/AudioRecorder.h"

#include <algorithm>
#include <new>
#include <optional>

#include "codecs/PCMSampleConvert.h"
#include "components/PcmFile.h"

namespace kv::components {

namespace {

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
    // A target may drop the last reference to this object while it is called.
    kv::com::ComPtr<IKvAudioRecorder> self(this);
    PcmData data;
    HRESULT hr = readPcmFile(path, m_samplesPerSec, data);
    if (FAILED(hr)) return hr;
    const WAVEFORMATEX to = captureFormat();
    // The converter counts in 32 bits; a size it would wrap must not reach it.
    if (convertedBytes(data.format, to, data.bytes.size()) > kMaxPcmBytes) return E_KV_UNSUPPORTED;

    codecs::CPCMSampleConvert converter;  // holds the converted bytes until it goes
    if (converter.initConvert(&data.format, &to) != 0) return E_KV_CONVERSION;
    BYTE* pcm = nullptr;
    DWORD length = 0;
    if (!data.bytes.empty() &&
        converter.convert(data.bytes.data(), static_cast<DWORD>(data.bytes.size()), &pcm, &length) != 0)
        return E_KV_CONVERSION;

    if (m_targets.empty()) return S_FALSE;
    try {
        push(pcm, length, static_cast<std::size_t>(chunkBytes));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void CKvAudioRecorder::push(const BYTE* pcm, std::size_t length, std::size_t chunkBytes) {
    std::vector<BYTE> copy(std::min(length, chunkBytes));
    std::vector<Target> snapshot;
    for (std::size_t at = 0; at < length; at += chunkBytes) {
        const std::size_t n = std::min(chunkBytes, length - at);
        snapshot = m_targets;
        for (const Target& t : snapshot) t.encoder->AddRef();
        for (const Target& t : snapshot) {
            if (!isRegistered(t)) continue;
            // The pointer is not const: a target that writes into it must not
            // change what the next one hears.
            std::copy_n(pcm + at, n, copy.begin());
            t.encoder->OnAudioData(copy.data(), static_cast<LONG>(n));
        }
        for (const Target& t : snapshot) t.encoder->Release();
    }
}

}  // namespace kv::components
