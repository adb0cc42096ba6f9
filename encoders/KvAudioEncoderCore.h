#pragma once

// The COM object every encoder class stands on: its two dual interfaces, the
// connection to the capture component, the converter, and the data path that
// joins a block stager (BlockStager.h) to a set of sinks (com/DeliverySet.h). A class adds
// its codec, as the stager calls it, its Blocks (with kEmptyBlockIsNull: an
// empty delivery hands on null), and kProgId, the source of its error
// descriptions. It may hide releaseCodec (its own step of the final release)
// and resetCodec (what makes its codec start a fresh stream).

#include "codecs/PCMSampleConvert.h"
#include "com/Barrier.h"
#include "com/Bstr.h"
#include "com/DeliverySet.h"
#include "com/ErrorInfo.h"
#include "com/Module.h"
#include "com/Object.h"
#include "encoders/BlockStager.h"
#include "encoders/EncoderDispatch.h"
#include "interfaces/Interfaces.h"

#include <utility>

namespace kv::encoders {

using com::operator<<;

// The calls that code, queued when they come in during a delivery.
enum class Call { Data, Flush, Reset };

template <class Derived, class ClassInterface, class Blocks>
class CKvAudioEncoderCore
    : public com::implements<Derived, com::DispatchImpl<ClassInterface, LIBID_KvAudioEncoderLib, 1, 0>, EncoderDispatch,
                             com::alias<IDispatch, IKvAudioEncoder>,
                             com::DispatchImpl<IKvAudioEncoderControl, LIBID_KvLib, 1, 0>,
                             com::SupportsErrorInfo<IKvAudioEncoder, IKvAudioEncoderControl>> {
public:
    using DefaultInterface = ClassInterface;

    HRESULT STDMETHODCALLTYPE Reserved1(LONG, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2(LONG, LONG) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE AddSink(IUnknown* sink) override {
        return described([&] { return addSink(sink); });
    }
    HRESULT STDMETHODCALLTYPE RemoveSink(IUnknown* sink) override {
        return described([&] { return removeSink(sink); });
    }
    // A null pointer or a negative length is no data. Unlike the other
    // methods, it leaves no error description.
    HRESULT STDMETHODCALLTYPE OnAudioData(BYTE* data, LONG length) override {
        return com::guarded([&] { return inTurn(Call::Data, data, data && length > 0 ? length : 0); });
    }
    // From a sink, each waits its turn behind the data pushed before it, as that data does.
    HRESULT STDMETHODCALLTYPE Flush() override {
        return described([&] { return inTurn(Call::Flush, nullptr, 0); });
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        return described([&] { return inTurn(Call::Reset, nullptr, 0); });
    }

    // The last reference may go while a sink is being called: the object
    // then stays until the delivery has ended (see inTurn).
    void takeLastReference(com::LastReference<Derived> self) { m_sinks.keepUntilDelivered(std::move(self)); }

    void finalRelease() {
        derived().releaseCodec();
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
        m_converter.closeConvert();
        m_sinks.clear();
    }

protected:
    explicit CKvAudioEncoderCore(const OLECHAR* registryName) : m_registryName(registryName) {
        CoCreateInstance(CLSID_KvObjectRegistry, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                         IID_IKvObjectRegistry, m_pRegistry.put_void());
    }

    // Codes one piece of converted PCM. The block is the object's until the
    // next call; with nothing coded the outputs point at the empty output
    // area, or stay unwritten when the class says so.
    HRESULT Encode(const BYTE* pcm, int byteCount, BYTE** outData, int* outLen) {
        const int produced = pcm && byteCount > 0 ? m_stager.take(derived(), pcm, byteCount) : 0;
        if (produced > 0 || !Blocks::kEmptyBlockIsNull) {
            *outData = m_stager.out();
            *outLen = produced;
        }
        return S_OK;
    }

    // Defaults of the class hooks.
    void releaseCodec() {}
    void resetCodec() {}

private:
    using SinkSet = com::DeliverySet<Derived, IKvAudioSink, &IKvAudioSink::OnEncodedData, Call>;
    using SinkPtr = typename SinkSet::TargetPtr;

    Derived& derived() { return static_cast<Derived&>(*this); }
    IUnknown* defaultInterface() { return static_cast<ClassInterface*>(this); }

    // A failure a client (a script, often) gets with words.
    static HRESULT fail(HRESULT hr, const com::ErrorText& text) {
        return com::reportError(hr, Derived::kProgId, IID_IKvAudioEncoder, text);
    }
    template <class Body>
    static HRESULT described(Body&& body) noexcept {
        return com::guardedDescribed(Derived::kProgId, IID_IKvAudioEncoder, body);
    }

    HRESULT addSink(IUnknown* sink) {
        // Connecting comes first on every call, whatever the argument.
        const HRESULT connected = ConnectRecorder();
        com::ErrorText why;
        if (!sink) return fail(E_POINTER, why << "cannot add the sink: it is null (Nothing)");
        SinkPtr usable;
        if (FAILED(sink->QueryInterface(IID_IKvAudioSink, usable.put_void())) || !usable)
            return fail(E_NOINTERFACE, why << "cannot add the sink: the object is not a sink (it has no IKvAudioSink)");
        // Without a capture component the sink would never hear anything;
        // ConnectRecorder said why.
        if (FAILED(connected)) return connected;
        return m_sinks.add(std::move(usable)) ? S_OK : S_FALSE;
    }

    HRESULT removeSink(IUnknown* sink) {
        SinkPtr usable;
        if (sink) sink->QueryInterface(IID_IKvAudioSink, usable.put_void());
        if (!usable || !m_sinks.remove(usable.get())) return S_FALSE;
        if (m_sinks.empty() && m_pRecorder) m_pRecorder->RemoveDataTarget(defaultInterface());
        return S_OK;
    }

    // Now, or from a sink after the delivery under way (see DeliverySet). The
    // last reference may have gone meanwhile: the object ends after it.
    HRESULT inTurn(Call kind, const BYTE* data, LONG length) {
        m_sinks.inTurn(kind, data, length, [this](Call k, const BYTE* d, LONG n) { run(k, d, n); });
        return S_OK;
    }

    void run(Call kind, const BYTE* data, LONG length) {
        switch (kind) {
            case Call::Data: {
                // A call larger than a piece goes in pieces, each its own
                // delivery, so nothing overflows and nothing is dropped.
                LONG done = 0;
                do {
                    const LONG piece = m_stager.nextPiece(length - done);
                    encodeAndDeliver(data + done, piece);
                    done += piece;
                } while (done < length);
                break;
            }
            case Call::Flush:
                // Nothing held, nothing delivered.
                if (const int produced = m_stager.flush(derived()); produced > 0)
                    m_sinks.deliver(m_stager.out(), produced);
                break;
            case Call::Reset:
                m_stager.clear();
                derived().resetCodec();
                break;
        }
    }

    void encodeAndDeliver(const BYTE* data, LONG length) {
        // Passed through, the converter hands back the caller's own bytes;
        // unconnected, nothing.
        BYTE* converted = nullptr;
        DWORD convertedLength = 0;
        if (length > 0) m_converter.convert(data, static_cast<DWORD>(length), &converted, &convertedLength);
        BYTE* block = nullptr;
        int blockLength = 0;
        Encode(converted, static_cast<int>(convertedLength), &block, &blockLength);
        m_sinks.deliver(block, blockLength);
    }

    // A failure is described here (the sink's own checks may then describe theirs).
    HRESULT ConnectRecorder() {
        // Borrowed: whether the registry added a reference is its own
        // business, so this pointer is never released here.
        IUnknown* running = nullptr;
        if (m_pRegistry) m_pRegistry->LookupObject(kRecorderName, &running);
        if (running && isHeld(running)) return connectHeld();
        // A recorder keeps its targets as raw pointers: off the one we leave
        // before it is let go, whatever comes next.
        if (m_pRecorder) {
            m_pRecorder->RemoveDataTarget(defaultInterface());
            m_pRecorder.reset();
        }
        com::ErrorText why;
        if (running) {
            // Our own reference, from the query.
            if (FAILED(running->QueryInterface(IID_IKvAudioRecorder, m_pRecorder.put_void())) || !m_pRecorder) {
                m_pRecorder.reset();
                return fail(E_NOINTERFACE, why << "cannot add the sink: the object entered as \"" << kRecorderName
                                               << "\" in the registry is no capture component (it has no "
                                                  "IKvAudioRecorder)");
            }
        } else {
            const HRESULT hr =
                CoCreateInstance(CLSID_KvAudioRecorder, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                 IID_IKvAudioRecorder, m_pRecorder.put_void());
            if (FAILED(hr) || !m_pRecorder) {
                m_pRecorder.reset();
                return fail(FAILED(hr) ? hr : E_NOINTERFACE,
                            why << "cannot add the sink: no capture component is entered as \"" << kRecorderName
                                << "\", and KvAudioComponents.Recorder cannot be created (" << com::Hex{hr}
                                << "; is KvAudioComponents.dll registered?)");
            }
        }
        return connectHeld();
    }

    // The steps every connection ends with, to the recorder now held.
    HRESULT connectHeld() {
        const WAVEFORMATEX capture = codecs::pcmWaveFormat(1, 16000, 16);
        // Equal formats: the converter passes the bytes through.
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

    // Every live encoder object keeps the server loaded; first in, so it is
    // let go only when everything else of the object is gone.
    com::ModuleLock m_moduleLock;
    const OLECHAR* m_registryName;
    com::ComPtr<IKvObjectRegistry> m_pRegistry;
    SinkSet m_sinks;
    com::ComPtr<IKvAudioRecorder> m_pRecorder;
    codecs::CPCMSampleConvert m_converter;
    BlockStager<Blocks> m_stager;
};

}  // namespace kv::encoders
