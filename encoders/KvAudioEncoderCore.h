#pragma once

// The skeleton every encoder class stands on: two dual interfaces, the sink
// set, the connection to the capture component, the converter and the data
// path. A class adds its codec, its staging and Encode.
//
//   class CKV_AudioX : public CKvAudioEncoderCore<CKV_AudioX, IKV_AudioX> {
//       static constexpr int kMaxPieceBytes = ...;   // the most one Encode call may take
//       HRESULT Encode(const BYTE*, int, BYTE**, int*) override;
//   };
//
// A class may also hide nextPieceBytes (how much of a large call the next
// Encode takes) and releaseCodec (its own step of the final release).

#include "codecs/PCMSampleConvert.h"
#include "com/Barrier.h"
#include "com/Bstr.h"
#include "com/Module.h"
#include "com/Object.h"
#include "encoders/EncoderDispatch.h"
#include "encoders/Interfaces.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kv {

template <class Derived, class ClassInterface>
class CKvAudioEncoderCore
    : public com::implements<Derived, com::DispatchImpl<ClassInterface, LIBID_KvAudioEncoderLib, 1, 0>,
                             EncoderDispatch, com::alias<IDispatch, IKvAudioEncoder>> {
public:
    HRESULT STDMETHODCALLTYPE Reserved1(LONG, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2(LONG, LONG) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE AddSink(IUnknown* sink) override {
        return com::guarded([&] { return addSink(sink); });
    }
    HRESULT STDMETHODCALLTYPE RemoveSink(IUnknown* sink) override {
        return com::guarded([&] { return removeSink(sink); });
    }
    HRESULT STDMETHODCALLTYPE OnAudioData(BYTE* data, LONG length) override {
        return com::guarded([&] { return onAudioData(data, length); });
    }

    void finalRelease() {
        static_cast<Derived*>(this)->releaseCodec();
        if (m_pRegistry) {
            // The registry only borrows the name for the call.
            const com::Bstr name(m_registryName);
            m_pRegistry->RemoveObject(name.get());
            m_pRegistry.reset();
        }
        if (m_pRecorder) {
            m_pRecorder->RemoveDataTarget(defaultInterface());
            m_pRecorder.reset();
        }
        com::module().unlock();
        m_converter.closeConvert();
        releaseSinks();
    }

protected:
    explicit CKvAudioEncoderCore(const OLECHAR* registryName) : m_registryName(registryName) {
        CoCreateInstance(CLSID_KvObjectRegistry, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                         IID_IKvObjectRegistry, m_pRegistry.put_void());
        // Every live encoder object keeps the server loaded.
        com::module().lock();
    }
    ~CKvAudioEncoderCore() override { releaseSinks(); }

    // Encodes the converted bytes of one piece; the block stays the object's
    // until the next call. Leaving the outputs unwritten means nothing encoded.
    virtual HRESULT Encode(const BYTE* pcm, int byteCount, BYTE** outData, int* outLen) = 0;

    // Defaults of the class hooks.
    LONG nextPieceBytes(LONG rest) const { return std::min<LONG>(rest, Derived::kMaxPieceBytes); }
    void releaseCodec() {}

private:
    using SinkPtr = com::ComPtr<IKvAudioSink>;

    IUnknown* defaultInterface() { return static_cast<ClassInterface*>(this); }

    HRESULT addSink(IUnknown* sink) {
        // Connecting comes first on every call, whatever the argument.
        const HRESULT connected = ConnectRecorder();
        if (!sink) return E_POINTER;
        SinkPtr usable;
        if (FAILED(sink->QueryInterface(IID_IKvAudioSink, usable.put_void())) || !usable) return E_NOINTERFACE;
        // Without a capture component the sink would never hear anything.
        if (FAILED(connected)) return connected;
        if (isRegistered(usable.get())) return S_FALSE;
        // Room for the delivery snapshot is made here, so that delivering
        // never allocates; both reserves come before the set changes.
        m_snapshot.reserve(m_sinks.size() + 1);
        m_sinks.reserve(m_sinks.size() + 1);
        m_sinks.insert(findSink(usable.get()), std::move(usable));
        return S_OK;
    }

    HRESULT removeSink(IUnknown* sink) {
        SinkPtr usable;
        if (sink) sink->QueryInterface(IID_IKvAudioSink, usable.put_void());
        if (!usable || !isRegistered(usable.get())) return S_FALSE;
        const auto at = findSink(usable.get());
        // Released only once the set is whole again: the last release may call back.
        SinkPtr removed = std::move(*at);
        m_sinks.erase(at);
        if (m_sinks.empty() && m_pRecorder) m_pRecorder->RemoveDataTarget(defaultInterface());
        return S_OK;
    }

    HRESULT onAudioData(const BYTE* data, LONG length) {
        if (!data || length < 0) length = 0;  // no data
        if (m_delivering) {
            // A sink pushes from inside a delivery: the block being delivered
            // must stay as it is, so this call waits its turn and keeps its
            // own deliveries, in arrival order.
            m_pending.emplace_back(data, data + length);
            return S_OK;
        }
        // A sink may release the encoder during delivery; it lives until the call ends.
        com::ComPtr<IKvAudioEncoder> self(static_cast<IKvAudioEncoder*>(this));
        m_delivering = true;
        struct Done {
            CKvAudioEncoderCore* core;
            ~Done() {
                core->m_delivering = false;
                core->m_pending.clear();
            }
        } done{this};
        take(data, length);
        for (std::size_t i = 0; i < m_pending.size(); ++i) {
            const std::vector<BYTE> call = std::move(m_pending[i]);
            take(call.data(), static_cast<LONG>(call.size()));
        }
        return S_OK;
    }

    // Larger calls than one Encode may take go in pieces, each its own
    // delivery, so nothing overflows and nothing is dropped.
    void take(const BYTE* data, LONG length) {
        LONG done = 0;
        do {
            const LONG piece = static_cast<Derived*>(this)->nextPieceBytes(length - done);
            encodeAndDeliver(length > 0 ? data + done : nullptr, piece);
            done += piece;
        } while (done < length);
    }

    HRESULT ConnectRecorder() {
        // Borrowed: whether the registry added a reference is its own
        // business, so this pointer is never released here.
        IUnknown* running = nullptr;
        if (m_pRegistry) m_pRegistry->LookupObject(kRecorderName, &running);
        HRESULT hr = S_OK;
        if (!running) {
            if (m_pRecorder) {
                m_pRecorder->RemoveDataTarget(defaultInterface());
                m_pRecorder.reset();
            }
            hr = CoCreateInstance(CLSID_KvAudioRecorder, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                  IID_IKvAudioRecorder, m_pRecorder.put_void());
        } else if (!isHeld(running)) {
            com::ComPtr<IKvAudioRecorder> found;  // our own reference, from the query
            hr = running->QueryInterface(IID_IKvAudioRecorder, found.put_void());
            m_pRecorder = std::move(found);
        }
        if (!m_pRecorder) return FAILED(hr) ? hr : E_NOINTERFACE;

        const WAVEFORMATEX capture = pcmWaveFormat(1, 16000, 16);
        m_converter.initConvert(&capture, &capture);
        m_pRecorder->SetProperty(KV_W("SamplesPerSec"), KV_W("16000"));
        m_pRecorder->SetProperty(KV_W("BitsPerSample"), KV_W("16"));
        m_pRecorder->AddDataTarget(defaultInterface());
        return S_OK;
    }

    // Compared as COM identities; every reference taken here is given back.
    bool isHeld(IUnknown* candidate) const {
        if (!m_pRecorder) return false;
        com::ComPtr<IUnknown> held = m_pRecorder.template query<IUnknown>();
        com::ComPtr<IUnknown> other;
        candidate->QueryInterface(IID_IUnknown, other.put_void());
        return held && held == other;
    }

    // Where the sink stands or would stand in the ascending set.
    typename std::vector<SinkPtr>::iterator findSink(IKvAudioSink* sink) {
        return std::lower_bound(m_sinks.begin(), m_sinks.end(), sink,
                                [](const SinkPtr& a, IKvAudioSink* b) { return a.get() < b; });
    }
    bool isRegistered(IKvAudioSink* sink) {
        const auto at = findSink(sink);
        return at != m_sinks.end() && at->get() == sink;
    }

    void encodeAndDeliver(const BYTE* data, LONG length) {
        BYTE* converted = nullptr;
        DWORD convertedLength = 0;
        if (length > 0) m_converter.convert(data, static_cast<DWORD>(length), &converted, &convertedLength);
        BYTE* block = nullptr;
        int blockLength = 0;
        Encode(converted, static_cast<int>(convertedLength), &block, &blockLength);
        deliver(block, blockLength);
    }

    // Sinks may add or remove sinks while being called: the walk goes over a
    // snapshot whose members are held until it ends. Deliveries never nest
    // (see onAudioData), and the snapshot's room was made by AddSink, so a
    // delivery allocates nothing and cannot fail half-way.
    void deliver(BYTE* block, int length) {
        std::vector<IKvAudioSink*> snapshot = std::move(m_snapshot);
        snapshot.clear();
        for (const SinkPtr& s : m_sinks) snapshot.push_back(s.get());
        for (IKvAudioSink* s : snapshot) s->AddRef();
        for (IKvAudioSink* s : snapshot) s->OnEncodedData(block, length);
        for (IKvAudioSink* s : snapshot) s->Release();
        // A sink added meanwhile made fresh room; keep whichever is larger.
        if (snapshot.capacity() >= m_snapshot.capacity()) m_snapshot = std::move(snapshot);
    }

    void releaseSinks() {
        std::vector<SinkPtr> sinks;
        sinks.swap(m_sinks);
    }

    const OLECHAR* m_registryName;
    com::ComPtr<IKvObjectRegistry> m_pRegistry;
    std::vector<SinkPtr> m_sinks;  // ascending by pointer, one reference each
    com::ComPtr<IKvAudioRecorder> m_pRecorder;
    CPCMSampleConvert m_converter;

    std::vector<IKvAudioSink*> m_snapshot;    // room for one delivery's walk
    bool m_delivering = false;
    std::vector<std::vector<BYTE>> m_pending;  // calls that came in during a delivery
};

}  // namespace kv
