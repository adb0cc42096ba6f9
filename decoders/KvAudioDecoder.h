#pragma once

// The decoder classes of KvAudioDecoder.dll: one COM object per stream, fed
// encoded bytes as an IKvAudioSink (an encoder's sink, or a host passing on
// the blocks it receives, split any way) or through Decode, and pushing the
// decoded 16-bit mono PCM to its data targets as it comes. The decoding is
// codecs::CStreamDecoder's; the delivery to the targets keeps the encoders'
// guarantees (com/DeliverySet.h): a target may add or remove targets, call
// the decoder or release it during its OnAudioData, a failing target does not
// keep the others from their samples, and nothing is allocated per call.

#include "codecs/StreamDecoder.h"
#include "com/DeliverySet.h"
#include "com/ErrorInfo.h"
#include "com/Module.h"
#include "com/NoTypeInfo.h"
#include "interfaces/Interfaces.h"

#include <cstdint>

namespace kv::decoders {

// Flush found the stream ending inside a G.723.1 frame, and dropped it.
inline constexpr HRESULT E_KV_TRUNCATED_FRAME = static_cast<HRESULT>(0x80040210);

// The four classes, in the order of the object map and of registration: the
// stream each takes, its class identifier, its version-independent ProgID
// (also the source of its errors) and its description.
struct DecoderClass {
    codecs::StreamFormat format;
    CLSID clsid;
    const OLECHAR* progId;
    const OLECHAR* description;
};
inline constexpr DecoderClass kDecoderClasses[] = {
    {codecs::StreamFormat::G711A, com::guid("{864B3F29-F763-4AFF-AFF6-26814AF4FBA2}"), KV_W("KvAudioDecoder.G711A"),
     KV_W("KvAudioDecoder G711A Class")},
    {codecs::StreamFormat::G711U, com::guid("{C2CB197E-7979-4C7F-861C-B8CE14240581}"), KV_W("KvAudioDecoder.G711U"),
     KV_W("KvAudioDecoder G711U Class")},
    {codecs::StreamFormat::G7231, com::guid("{6A224D22-85A1-4F99-AC63-9211C68D7E89}"), KV_W("KvAudioDecoder.G7231"),
     KV_W("KvAudioDecoder G7231 Class")},
    {codecs::StreamFormat::Quorvan, com::guid("{BAC822F9-62C9-4077-8497-A75F02EC04C2}"), KV_W("KvAudioDecoder.Quorvan"),
     KV_W("KvAudioDecoder Quorvan Class")},
};
constexpr const DecoderClass& decoderClass(codecs::StreamFormat format) {
    for (const DecoderClass& c : kDecoderClasses)
        if (c.format == format) return c;
    throw "no decoder class takes this format";
}

// The calls that decode, queued when they come in during a delivery.
enum class Call { Data, FrameLost, Flush, Reset };

template <codecs::StreamFormat Format>
class CKvAudioDecoder final
    : public com::implements<CKvAudioDecoder<Format>, com::DispatchImpl<IKvAudioDecoder, LIBID_KvAudioDecoderLib, 1, 0>,
                             com::NoTypeInfo<IKvAudioSink>, com::alias<IDispatch, IKvAudioDecoder>,
                             com::SupportsErrorInfo<IKvAudioDecoder, IKvAudioSink>>,
      private codecs::PcmOutput {
public:
    using DefaultInterface = IKvAudioDecoder;
    static constexpr CLSID kClsid = decoderClass(Format).clsid;
    static constexpr const OLECHAR* kProgId = decoderClass(Format).progId;
    static constexpr const OLECHAR* kDescription = decoderClass(Format).description;

    // IKvAudioSink. A null block of length 0 is an empty one; null with a
    // length is E_POINTER, a negative length E_INVALIDARG, and nothing is taken.
    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override;
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override;

    // IKvAudioDecoder.
    HRESULT STDMETHODCALLTYPE AddTarget(IUnknown* target) override;
    HRESULT STDMETHODCALLTYPE RemoveTarget(IUnknown* target) override;
    HRESULT STDMETHODCALLTYPE Decode(VARIANT* bytes) override;
    HRESULT STDMETHODCALLTYPE FrameLost() override;
    HRESULT STDMETHODCALLTYPE Flush() override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE get_PostFilter(VARIANT_BOOL* on) override;
    HRESULT STDMETHODCALLTYPE put_PostFilter(VARIANT_BOOL on) override;
    HRESULT STDMETHODCALLTYPE get_SampleRate(LONG* rate) override;
    HRESULT STDMETHODCALLTYPE put_SampleRate(LONG rate) override;
    HRESULT STDMETHODCALLTYPE get_BytesReceived(LONG* count) override { return GetBytesReceived(count); }

    // The last reference may go while a target is being called: the object
    // then stays until the delivery has ended.
    void takeLastReference(com::LastReference<CKvAudioDecoder> self) { m_targets.keepUntilDelivered(std::move(self)); }
    void finalRelease() { m_targets.clear(); }

private:
    static constexpr com::ErrorSource kErrors{kProgId, &IID_IKvAudioDecoder};

    // An [out, retval] value; E_POINTER, described, when there is no place for it.
    template <class T>
    HRESULT answer(T* out, T value, const char* what);
    // Takes encoded bytes (inside a guard).
    HRESULT take(const BYTE* data, LONG length);
    // A call now, or from a target after the delivery under way (then its
    // result is 0); for Flush, the bytes it dropped. turn() is its COM side.
    std::size_t inTurn(Call kind, const BYTE* data = nullptr, LONG length = 0);
    HRESULT turn(Call kind);
    std::size_t run(Call kind, const BYTE* data, LONG length);
    // From the stream decoder: samples to every target.
    void pcm(const std::int16_t* samples, int count) override;

    // Every live decoder keeps the server loaded; first in, so it is let go
    // only when everything else of the object is gone.
    com::ModuleLock m_moduleLock;
    codecs::CStreamDecoder m_stream{Format};
    com::DeliverySet<CKvAudioDecoder, IKvAudioDataTarget, &IKvAudioDataTarget::OnAudioData, Call> m_targets;
    LONG m_sampleRate = 16000;
    long long m_received = 0;
};

}  // namespace kv::decoders
