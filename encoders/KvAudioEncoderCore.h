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
#include "com/Module.h"
#include "com/Object.h"
#include "encoders/Interfaces.h"

#include <algorithm>
#include <array>
#include <vector>

namespace kv {

template <class Derived, class ClassInterface>
class CKvAudioEncoderCore
    : public com::implements<Derived, com::DispatchImpl<ClassInterface, LIBID_KvAudioEncoderLib, 1, 0>,
                             com::DispatchImpl<IKvAudioEncoder, LIBID_KvLib, 1, 0>,
                             com::alias<IDispatch, IKvAudioEncoder>> {
public:
    HRESULT STDMETHODCALLTYPE Reserved1(LONG, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2(LONG, LONG) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE AddSink(IUnknown* sink) override {
        // Connecting comes first on every call, whatever the argument.
        const HRESULT connected = ConnectRecorder();
        if (!sink) return E_POINTER;
        com::ComPtr<IKvAudioSink> usable;
        if (FAILED(sink->QueryInterface(IID_IKvAudioSink, usable.put_void())) || !usable) return E_NOINTERFACE;
        // Without a capture component the sink would never hear anything.
        if (FAILED(connected)) return connected;
        auto at = std::lower_bound(m_sinks.begin(), m_sinks.end(), usable.get());
        if (at != m_sinks.end() && *at == usable.get()) return S_FALSE;
        m_sinks.insert(at, usable.detach());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE RemoveSink(IUnknown* sink) override {
        com::ComPtr<IKvAudioSink> usable;
        if (sink) sink->QueryInterface(IID_IKvAudioSink, usable.put_void());
        auto at = std::lower_bound(m_sinks.begin(), m_sinks.end(), usable.get());
        if (!usable || at == m_sinks.end() || *at != usable.get()) return S_FALSE;
        IKvAudioSink* removed = *at;
        m_sinks.erase(at);
        removed->Release();
        if (m_sinks.empty() && m_pRecorder) m_pRecorder->RemoveDataTarget(defaultInterface());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE OnAudioData(BYTE* data, LONG length) override {
        // A sink may release the encoder during delivery; it lives until the call ends.
        com::ComPtr<IKvAudioEncoder> self(static_cast<IKvAudioEncoder*>(this));
        if (!data || length < 0) length = 0;  // no data
        // Larger calls than one Encode may take go in pieces, each its own
        // delivery, so nothing overflows and nothing is dropped.
        LONG done = 0;
        do {
            const LONG piece = static_cast<Derived*>(this)->nextPieceBytes(length - done);
            encodeAndDeliver(data ? data + done : nullptr, piece);
            done += piece;
        } while (done < length);
        return S_OK;
    }

    void finalRelease() {
        static_cast<Derived*>(this)->releaseCodec();
        if (m_pRegistry) {
            BSTR name = SysAllocString(m_registryName);
            m_pRegistry->RemoveObject(name);
            SysFreeString(name);
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
    IUnknown* defaultInterface() { return static_cast<ClassInterface*>(this); }

    HRESULT ConnectRecorder() {
        com::ComPtr<IUnknown> running;
        if (m_pRegistry) m_pRegistry->LookupObject(kRecorderName, running.put());
        HRESULT hr = S_OK;
        if (!running) {
            if (m_pRecorder) {
                m_pRecorder->RemoveDataTarget(defaultInterface());
                m_pRecorder.reset();
            }
            hr = CoCreateInstance(CLSID_KvAudioRecorder, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                  IID_IKvAudioRecorder, m_pRecorder.put_void());
        } else if (!isHeld(running.get())) {
            com::ComPtr<IKvAudioRecorder> found;
            hr = running->QueryInterface(IID_IKvAudioRecorder, found.put_void());
            m_pRecorder = found;
        }
        if (!m_pRecorder) return FAILED(hr) ? hr : E_NOINTERFACE;

        const WAVEFORMATEX capture = pcmWaveFormat(1, 16000, 16);
        m_converter.initConvert(&capture, &capture);
        m_pRecorder->SetProperty(KV_W("SamplesPerSec"), KV_W("16000"));
        m_pRecorder->SetProperty(KV_W("BitsPerSample"), KV_W("16"));
        m_pRecorder->AddDataTarget(defaultInterface());
        return S_OK;
    }

    bool isHeld(IUnknown* candidate) {
        if (!m_pRecorder) return false;
        com::ComPtr<IUnknown> a = m_pRecorder.template query<IUnknown>();
        com::ComPtr<IUnknown> b(candidate);
        return a.get() == b.template query<IUnknown>().get();
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
    // snapshot whose members are held until it ends.
    void deliver(BYTE* block, int length) {
        std::array<IKvAudioSink*, 8> small;
        std::vector<IKvAudioSink*> large;
        IKvAudioSink** snapshot = small.data();
        if (m_sinks.size() > small.size()) {
            large = m_sinks;
            snapshot = large.data();
        } else {
            std::copy(m_sinks.begin(), m_sinks.end(), small.begin());
        }
        const std::size_t count = m_sinks.size();
        for (std::size_t i = 0; i < count; ++i) snapshot[i]->AddRef();
        for (std::size_t i = 0; i < count; ++i) snapshot[i]->OnEncodedData(block, length);
        for (std::size_t i = 0; i < count; ++i) snapshot[i]->Release();
    }

    void releaseSinks() {
        std::vector<IKvAudioSink*> sinks;
        sinks.swap(m_sinks);
        for (IKvAudioSink* s : sinks) s->Release();
    }

    const OLECHAR* m_registryName;
    com::ComPtr<IKvObjectRegistry> m_pRegistry;
    std::vector<IKvAudioSink*> m_sinks;  // ascending by pointer, one reference each
    com::ComPtr<IKvAudioRecorder> m_pRecorder;
    CPCMSampleConvert m_converter;
};

}  // namespace kv
