#include "decoders/KvAudioDecoder.h"

#include "com/VariantBytes.h"

#include <algorithm>
#include <limits>
#include <string>

namespace kv::decoders {

namespace {

using com::operator<<;

com::ErrorText& operator<<(com::ErrorText& text, long long n) { return text << std::to_string(n).c_str(); }

}  // namespace

template <codecs::StreamFormat Format>
template <class T>
HRESULT CKvAudioDecoder<Format>::answer(T* out, T value, const char* what) {
    if (out) {
        *out = value;
        return S_OK;
    }
    return kErrors.guard([&] {
        com::ErrorText why;
        return kErrors.fail(E_POINTER, why << "cannot tell " << what << ": no place to put it");
    });
}

template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::GetBytesReceived(LONG* count) {
    return answer(count, static_cast<LONG>(std::min<long long>(m_received, std::numeric_limits<LONG>::max())),
                  "the bytes received");
}

template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::OnEncodedData(BYTE* data, LONG length) {
    return kErrors.guard([&] {
        com::ErrorText why;
        if (length < 0) return kErrors.fail(E_INVALIDARG, why << "cannot decode a block of " << length << " bytes");
        if (!data && length > 0)
            return kErrors.fail(E_POINTER, why << "cannot decode a block of " << length << " bytes: its data is null");
        return take(data, length);
    });
}

template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::Decode(VARIANT* bytes) {
    return kErrors.guard([&] {
        const com::VariantBytes array(bytes);
        com::ErrorText why;
        switch (array.status()) {
            case S_OK:
                return take(array.data(), array.size());
            case E_POINTER:
                return kErrors.fail(E_POINTER, why << "cannot decode: no bytes were given");
            case DISP_E_TYPEMISMATCH:
                return kErrors.fail(DISP_E_TYPEMISMATCH,
                                    why << "cannot decode: Decode takes a byte array of one dimension");
            case S_FALSE:
                return kErrors.fail(
                    DISP_E_TYPEMISMATCH,
                    why << "cannot decode: Decode takes a byte array "
                           "(VT_ARRAY | VT_UI1), such as a MemorySink's Data, not a value of variant type "
                        << static_cast<long long>(array.type()));
            default:
                return kErrors.fail(array.status(), why << "cannot decode: the byte array cannot be read ("
                                                        << com::Hex{array.status()} << ")");
        }
    });
}

template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::AddTarget(IUnknown* target) {
    return kErrors.guard([&] {
        com::ErrorText why;
        if (!target) return kErrors.fail(E_POINTER, why << "cannot add the target: it is null (Nothing)");
        com::ComPtr<IKvAudioDataTarget> usable;
        if (FAILED(target->QueryInterface(IID_IKvAudioDataTarget, usable.put_void())) || !usable)
            return kErrors.fail(E_NOINTERFACE, why << "cannot add the target: the object takes no PCM (it has no "
                                                      "IKvAudioDataTarget)");
        return m_targets.add(std::move(usable)) ? S_OK : S_FALSE;
    });
}

template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::RemoveTarget(IUnknown* target) {
    return kErrors.guard([&] {
        com::ComPtr<IKvAudioDataTarget> usable;
        if (target) target->QueryInterface(IID_IKvAudioDataTarget, usable.put_void());
        return usable && m_targets.remove(usable.get()) ? S_OK : S_FALSE;
    });
}

// Only G.723.1 has frames to conceal: the other streams are a sample per byte,
// and a byte lost in transport is simply not there.
template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::FrameLost() {
    return Format == codecs::StreamFormat::G7231 ? turn(Call::FrameLost) : S_FALSE;
}

// From a target during a delivery, Flush waits its turn like data does, and
// what it drops then is past telling: S_OK.
template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::Flush() {
    return kErrors.guard([&] {
        const std::size_t dropped = inTurn(Call::Flush);
        if (dropped == 0) return S_OK;
        com::ErrorText why;
        return kErrors.fail(E_KV_TRUNCATED_FRAME, why << "the stream ended inside a frame: its "
                                                      << static_cast<long long>(dropped)
                                                      << " bytes were dropped (the stream is ended all the same)");
    });
}

template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::Reset() {
    return turn(Call::Reset);
}

template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::get_PostFilter(VARIANT_BOOL* on) {
    return answer(on, m_stream.postFilter() ? VARIANT_TRUE : VARIANT_FALSE, "PostFilter");
}

// Kept by every class, so that a host may set it whatever the stream;
// only G.723.1 has a postfilter to switch.
template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::put_PostFilter(VARIANT_BOOL on) {
    m_stream.setPostFilter(on != VARIANT_FALSE);
    return S_OK;
}

template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::get_SampleRate(LONG* rate) {
    return answer(rate, m_sampleRate, "SampleRate");
}

// The rate the samples are meant to be played at; the samples are the same
// either way (our encoders take 16 kHz captures as the codecs' 8 kHz input).
template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::put_SampleRate(LONG rate) {
    return kErrors.guard([&] {
        com::ErrorText why;
        if (rate != 16000 && rate != 8000)
            return kErrors.fail(E_INVALIDARG, why << "cannot set SampleRate to " << static_cast<long long>(rate)
                                                  << ": it takes 16000 (the streams of our encoders) or 8000 (the "
                                                     "8 kHz streams of a standard peer)");
        m_sampleRate = rate;
        return S_OK;
    });
}

template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::take(const BYTE* data, LONG length) {
    m_received += length;
    inTurn(Call::Data, data, length);
    return S_OK;
}

template <codecs::StreamFormat Format>
HRESULT CKvAudioDecoder<Format>::turn(Call kind) {
    return kErrors.guard([&] {
        inTurn(kind);
        return S_OK;
    });
}

template <codecs::StreamFormat Format>
std::size_t CKvAudioDecoder<Format>::inTurn(Call kind, const BYTE* data, LONG length) {
    return m_targets.inTurn(kind, data, length, [this](Call k, const BYTE* d, LONG n) { return run(k, d, n); });
}

template <codecs::StreamFormat Format>
std::size_t CKvAudioDecoder<Format>::run(Call kind, const BYTE* data, LONG length) {
    switch (kind) {
        case Call::Data:
            if (length > 0) m_stream.decode(data, static_cast<std::size_t>(length), *this);
            break;
        case Call::FrameLost:
            m_stream.frameLost();
            break;
        case Call::Flush:
            return m_stream.flush();
        case Call::Reset:
            m_stream.reset();
            break;
    }
    return 0;
}

template <codecs::StreamFormat Format>
void CKvAudioDecoder<Format>::pcm(const std::int16_t* samples, int count) {
    // Targets take the samples as bytes, in the machine's order.
    m_targets.deliver(reinterpret_cast<BYTE*>(const_cast<std::int16_t*>(samples)),
                      static_cast<LONG>(count * sizeof(std::int16_t)));
}

template class CKvAudioDecoder<codecs::StreamFormat::G711A>;
template class CKvAudioDecoder<codecs::StreamFormat::G711U>;
template class CKvAudioDecoder<codecs::StreamFormat::G7231>;
template class CKvAudioDecoder<codecs::StreamFormat::Quorvan>;

}  // namespace kv::decoders
