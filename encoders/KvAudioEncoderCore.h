#pragma once

// The skeleton every encoder class stands on: two dual interfaces, the sink
// set, the connection to the capture component, the converter and the data
// path with its staging. A class adds its codec and says how it cuts PCM:
//
//   struct XBlocks {
//       static constexpr int kInBlock = ...;        // PCM bytes the codec takes at once
//       static constexpr int kOutBlock = ...;       // code bytes it makes of them
//       static constexpr int kStagingBlocks = ...;  // blocks the staging holds (see Encode)
//       static constexpr int kMaxPieceBytes = ...;  // the most one piece of a call may bring
//       static constexpr bool kEmptyBlockIsNull = ...;  // no block coded: deliver null, not the output area
//       static constexpr bool kPadLastBlock = ...;  // a flush codes a partial block padded with silence
//   };
//   class CKV_AudioX : public CKvAudioEncoderCore<CKV_AudioX, IKV_AudioX, XBlocks> {
//       static constexpr const OLECHAR* kProgId = ...;  // the source of its error descriptions
//       // count >= 1 whole blocks, one after another: count * kOutBlock bytes out
//       void encodeBlocks(const std::int16_t* pcm, int count, BYTE* code);
//       // Without kPadLastBlock, a flush codes the samples short of a block with
//       // this: one byte per sample.
//       void encodeSamples(const std::int16_t* pcm, int count, BYTE* code);
//   };
//
// A class may also hide releaseCodec (its own step of the final release) and
// resetCodec (what makes its codec start a fresh stream).

#include "codecs/PCMSampleConvert.h"
#include "com/Barrier.h"
#include "com/Bstr.h"
#include "com/ErrorInfo.h"
#include "com/Module.h"
#include "com/Object.h"
#include "encoders/EncoderDispatch.h"
#include "interfaces/Interfaces.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace kv::encoders {

using com::operator<<;

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
    // From inside a delivery (a sink calling), each waits its turn behind
    // the data pushed before it, as that data does.
    HRESULT STDMETHODCALLTYPE Flush() override {
        return described([&] { return control(Call::Flush); });
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        return described([&] { return control(Call::Reset); });
    }
    // The data path is the one entry point called at the capture rate: the
    // common call (see onLeanCall) is told apart here, before anything else,
    // and runs inline, in the thunk of IKvAudioEncoder as in the method itself.
    [[gnu::flatten]] HRESULT STDMETHODCALLTYPE OnAudioData(BYTE* data, LONG length) override {
        if constexpr (Blocks::kStagingBlocks == 1) {
            // Unsigned, a negative length fails the range test; any state but
            // Ready lies above every block count, so the same test sends the
            // rest, a push from a sink among them, the general way.
            const std::uint32_t blocks = wholeBlocks(static_cast<std::uint32_t>(length));
            if (((blocks - 1) | static_cast<std::uint32_t>(m_delivery)) < std::uint32_t{kMaxBlocks} && data &&
                reinterpret_cast<std::uintptr_t>(data) % alignof(std::int16_t) == 0) [[likely]]
                return onLeanCall(data, blocks);
        }
        return onAnyCall(this, data, length);
    }

    // The last reference may go while a sink is being called: the object
    // then stays until the delivery has ended (see endDelivery).
    void takeLastReference(com::LastReference<Derived> self) {
        if (!delivering()) return;
        m_delivery = Delivery::Busy;  // a lean call takes the general ending
        m_lastReference = std::move(self);
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
        m_passThrough = false;
        m_converter.closeConvert();
        releaseSinks();
        settleLean();
    }

protected:
    explicit CKvAudioEncoderCore(const OLECHAR* registryName) : m_registryName(registryName) {
        CoCreateInstance(CLSID_KvObjectRegistry, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                         IID_IKvObjectRegistry, m_pRegistry.put_void());
    }
    ~CKvAudioEncoderCore() override { releaseSinks(); }

    // Codes one piece of converted PCM. The block is the object's until the
    // next call; with nothing coded the outputs point at the empty output
    // area, or stay unwritten when the class says so.
    HRESULT Encode(const BYTE* pcm, int byteCount, BYTE** outData, int* outLen) {
        int produced = 0;
        if (pcm && byteCount > 0) {
            if constexpr (Blocks::kStagingBlocks == 1)
                produced = encodeOneBlockStaged(pcm, byteCount);
            else
                produced = encodeRing(pcm, byteCount);
        }
        if (produced > 0 || !Blocks::kEmptyBlockIsNull) {
            *outData = m_out;
            *outLen = produced;
        }
        return S_OK;
    }

    // Defaults of the class hooks.
    void releaseCodec() {}
    void resetCodec() {}

private:
    using SinkPtr = com::ComPtr<IKvAudioSink>;
    // A call a sink made during a delivery, kept for after it.
    enum class Call { Data, Flush, Reset };
    struct Pending {
        Call kind;
        std::vector<BYTE> bytes;
    };

    static constexpr int kIn = Blocks::kInBlock;
    static constexpr int kStagingBytes = kIn * Blocks::kStagingBlocks;
    // A piece of N bytes codes at most ceil(N / kIn) blocks: with one block
    // of staging at most kIn - 1 bytes wait in front of it, and with more
    // every pass after the first brings at most kIn new bytes.
    static constexpr int kOutBytes = (Blocks::kMaxPieceBytes + kIn - 1) / kIn * Blocks::kOutBlock;
    static_assert(kIn % 2 == 0 && Blocks::kStagingBlocks >= 1 && Blocks::kMaxPieceBytes >= kIn);
    static_assert(kOutBytes >= Blocks::kStagingBlocks * Blocks::kOutBlock, "a flush codes all that is held at once");

    IUnknown* defaultInterface() { return static_cast<ClassInterface*>(this); }

    // The length in blocks when it is a multiple of kIn, and more than any
    // piece holds otherwise: times the inverse of kIn's odd part modulo
    // 2^32, then rotated by its power of two, a multiple n * kIn comes out
    // as n and anything else as a number above 2^32 / kIn.
    static constexpr int kMaxBlocks = Blocks::kMaxPieceBytes / kIn;
    static constexpr std::uint32_t wholeBlocks(std::uint32_t bytes) {
        constexpr int twos = std::countr_zero(static_cast<unsigned>(kIn));
        constexpr std::uint32_t odd = kIn >> twos;
        constexpr std::uint32_t inverse = [] {
            std::uint32_t x = odd;  // right to 3 bits; each step doubles that
            for (int i = 0; i < 4; ++i) x *= 2 - odd * x;
            return x;
        }();
        return std::rotr(bytes * inverse, twos);
    }
    // Checked over every length a piece may have and beyond.
    static constexpr bool wholeBlocksExact() {
        for (std::uint32_t bytes = 0; bytes <= Blocks::kMaxPieceBytes + 2 * kIn; ++bytes) {
            const bool whole = bytes > 0 && bytes % kIn == 0 && bytes <= Blocks::kMaxPieceBytes;
            if ((wholeBlocks(bytes) - 1 < std::uint32_t{kMaxBlocks}) != whole) return false;
            if (whole && wholeBlocks(bytes) != bytes / kIn) return false;
        }
        // Negative lengths, seen unsigned.
        return wholeBlocks(0u - kIn) - 1 >= std::uint32_t{kMaxBlocks} &&
               wholeBlocks(0u - 1) - 1 >= std::uint32_t{kMaxBlocks};
    }
    static_assert(Blocks::kStagingBlocks > 1 || wholeBlocksExact());

    // A failure a client (a script, often) gets with words.
    static HRESULT fail(HRESULT hr, const com::ErrorText& text) {
        return com::reportError(hr, Derived::kProgId, IID_IKvAudioEncoder, text);
    }
    static HRESULT fail(HRESULT hr, const char* text) {
        com::ErrorText t;
        return fail(hr, t << text);
    }
    template <class Body>
    static HRESULT described(Body&& body) noexcept {
        return com::guardedDescribed(Derived::kProgId, IID_IKvAudioEncoder, body);
    }

    HRESULT addSink(IUnknown* sink) {
        // Connecting comes first on every call, whatever the argument.
        const HRESULT connected = ConnectRecorder();
        if (!sink) return fail(E_POINTER, "cannot add the sink: it is null (Nothing)");
        SinkPtr usable;
        if (FAILED(sink->QueryInterface(IID_IKvAudioSink, usable.put_void())) || !usable)
            return fail(E_NOINTERFACE, "cannot add the sink: the object is not a sink (it has no IKvAudioSink)");
        // Without a capture component the sink would never hear anything;
        // ConnectRecorder said why.
        if (FAILED(connected)) return connected;
        if (isRegistered(usable.get())) return S_FALSE;
        // Room for the delivery snapshot is made here, so that delivering
        // never allocates; both reserves come before the set changes.
        m_snapshot.reserve(m_sinks.size() + 1);
        m_sinks.reserve(m_sinks.size() + 1);
        m_sinks.insert(findSink(usable.get()), std::move(usable));
        settleLean();
        return S_OK;
    }

    HRESULT removeSink(IUnknown* sink) {
        SinkPtr usable;
        if (sink) sink->QueryInterface(IID_IKvAudioSink, usable.put_void());
        if (!usable || !isRegistered(usable.get())) return S_FALSE;
        const auto at = findSink(usable.get());
        // A delivery walks its snapshot without references of its own: a
        // sink it has still to call, or is calling, is kept until it ends.
        const bool walked = delivering() && (m_walk ? m_walk->holds(usable.get()) : usable.get() == m_lean);
        if (walked) m_retired.reserve(m_retired.size() + 1);
        // Released only once the set is whole again: the last release may call back.
        SinkPtr removed = std::move(*at);
        m_sinks.erase(at);
        if (walked) m_retired.push_back(std::move(removed));
        settleLean();
        if (m_sinks.empty() && m_pRecorder) m_pRecorder->RemoveDataTarget(defaultInterface());
        return S_OK;
    }

    // The ways out of OnAudioData other than the lean call's own end take
    // the interface it came in through: a call through IKvAudioEncoder comes
    // by an adjusting thunk, whose pointer at hand is that one, and so keeps
    // no second pointer to the object across the calls.
    static CKvAudioEncoderCore& core(IKvAudioEncoder* self) { return *static_cast<CKvAudioEncoderCore*>(self); }

    // The barrier of com::guarded, written out, around the general path.
    [[gnu::noinline]] static HRESULT onAnyCall(IKvAudioEncoder* self, const BYTE* data, LONG length) {
        try {
            return core(self).onAudioData(data, length);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

    HRESULT onAudioData(const BYTE* data, LONG length) {
        if (!data || length < 0) length = 0;  // no data
        if (delivering()) return queue(Call::Data, data, length);
        return asDelivery([&] { take(data, length); });
    }

    HRESULT control(Call kind) {
        if (delivering()) return queue(kind, nullptr, 0);
        return asDelivery([&] { apply(kind); });
    }

    // Runs `step` as one delivery, then what sinks asked for meanwhile.
    template <class Step>
    HRESULT asDelivery(Step&& step) {
        // A sink may release the encoder during delivery: the final release
        // then waits for endDelivery (see takeLastReference).
        m_delivery = Delivery::Busy;
        m_lean = nullptr;
        struct Done {
            CKvAudioEncoderCore& core;
            ~Done() { core.endDelivery(); }
        } done{*this};
        step();
        if (!m_pending.empty()) takePending();
        return S_OK;
    }

    void apply(Call kind) {
        if (kind == Call::Flush) flushHeld();
        if (kind == Call::Reset) {
            m_first = m_held = 0;
            static_cast<Derived*>(this)->resetCodec();
        }
    }

    // Codes what is held, oldest first: the whole blocks, then the rest as
    // the class takes a last partial block, and delivers it all as one block.
    // Nothing held, nothing delivered.
    void flushHeld() {
        int produced = 0;
        for (; m_held >= kIn; m_held -= kIn) {
            code(m_staging + m_first, produced);
            m_first = (m_first + kIn) % kStagingBytes;
        }
        // Blocks start at multiples of kIn, so the rest lies in one piece,
        // with room behind it for a whole block.
        BYTE* const rest = m_staging + m_first;
        if constexpr (Blocks::kPadLastBlock) {
            if (m_held > 0) {
                std::memset(rest + m_held, 0, static_cast<std::size_t>(kIn - m_held));
                code(rest, produced);
            }
        } else if (const int samples = m_held / 2; samples > 0) {  // half a sample is no sample
            static_cast<Derived*>(this)->encodeSamples(reinterpret_cast<const std::int16_t*>(rest), samples,
                                                       m_out + produced);
            produced += samples;
        }
        m_first = m_held = 0;
        if (produced > 0) deliver(m_out, produced);
    }

    // The last step of every delivery; the object may be gone after it.
    void endDelivery() {
        m_delivery = Delivery::Idle;  // settled below
        if (!m_pending.empty()) m_pending.clear();
        settleLean();
        const com::LastReference<Derived> last = std::move(m_lastReference);
    }

    // A sink pushes from inside a delivery: the block being delivered must
    // stay as it is, so this call waits its turn and keeps its own
    // deliveries, in arrival order.
    [[gnu::noinline]] HRESULT queue(Call kind, const BYTE* data, LONG length) {
        m_delivery = Delivery::Busy;
        m_pending.push_back({kind, std::vector<BYTE>(data, data + length)});
        return S_OK;
    }

    [[gnu::noinline]] void takePending() {
        for (std::size_t i = 0; i < m_pending.size(); ++i) {
            const Pending call = std::move(m_pending[i]);
            if (call.kind == Call::Data)
                take(call.bytes.data(), static_cast<LONG>(call.bytes.size()));
            else
                apply(call.kind);
        }
    }

    // Larger calls than one piece may bring go in pieces, each its own
    // delivery, so nothing overflows and nothing is dropped.
    void take(const BYTE* data, LONG length) {
        if (length <= Blocks::kMaxPieceBytes)
            encodeAndDeliver(data, length);
        else
            takePieces(data, length);
    }

    [[gnu::noinline]] void takePieces(const BYTE* data, LONG length) {
        LONG done = 0;
        do {
            const LONG piece = nextPieceBytes(length - done);
            encodeAndDeliver(data + done, piece);
            done += piece;
        } while (done < length);
    }

    // With one block of staging, where a call is cut changes nothing but the
    // deliveries. With more, every piece ends with a block coded, so a cut
    // part-way through one of the passes a single call would make codes a
    // block early, and what a large call delivers would depend on where it
    // was cut. A fixed piece size cannot avoid that for every fill, so
    // oversized calls are then cut only at the end of a pass, sized from the
    // fill: the pieces code exactly the blocks one unbounded call would.
    LONG nextPieceBytes(LONG rest) const {
        if (rest <= Blocks::kMaxPieceBytes) return rest;
        if constexpr (Blocks::kStagingBlocks == 1) {
            return Blocks::kMaxPieceBytes;
        } else {
            const int room = kStagingBytes - m_held;
            return room + (Blocks::kMaxPieceBytes - room) / kIn * kIn;
        }
    }

    // Appends behind the bytes held. The staging is a ring whose size is a
    // whole number of blocks and blocks are taken from it at multiples of
    // the block size, so a block never wraps and nothing is ever moved.
    void stage(const BYTE* from, int count) {
        const int end = (m_first + m_held) % kStagingBytes;
        const int first = std::min(count, kStagingBytes - end);
        std::memcpy(m_staging + end, from, static_cast<std::size_t>(first));
        std::memcpy(m_staging, from + first, static_cast<std::size_t>(count - first));
        m_held += count;
    }

    void code(const BYTE* block, int& produced, int count = 1) {
        static_cast<Derived*>(this)->encodeBlocks(reinterpret_cast<const std::int16_t*>(block), count,
                                                  m_out + produced);
        produced += count * Blocks::kOutBlock;
    }

    // One block of staging: top up what is held, code the whole blocks of the
    // input where they lie, keep the rest. Blocks are taken at multiples of
    // kIn of the byte stream either way, so the codes are those of copying
    // every byte through the staging.
    int encodeOneBlockStaged(const BYTE* pcm, int byteCount) {
        if (m_held == 0 && reinterpret_cast<std::uintptr_t>(pcm) % alignof(std::int16_t) == 0 && byteCount % kIn == 0) {
            // Whole blocks and nothing held: coded straight from the caller's buffer.
            int produced = 0;
            code(pcm, produced, byteCount / kIn);
            return produced;
        }
        return encodeStaged(pcm, byteCount);
    }

    [[gnu::noinline]] int encodeStaged(const BYTE* pcm, int byteCount) {
        int produced = 0;
        int at = 0;
        if (m_held > 0) {
            at = std::min(byteCount, kIn - m_held);
            std::memcpy(m_staging + m_held, pcm, static_cast<std::size_t>(at));
            m_held += at;
            if (m_held < kIn) return 0;
            code(m_staging, produced);
            m_held = 0;
        }
        if (reinterpret_cast<std::uintptr_t>(pcm + at) % alignof(std::int16_t) == 0) {
            // The codec runs on across blocks, so they go to it in one call.
            const int blocks = (byteCount - at) / kIn;
            if (blocks > 0) {
                code(pcm + at, produced, blocks);
                at += blocks * kIn;
            }
        } else {
            // A split sample: the codec reads whole samples, so the block goes through the staging.
            for (; byteCount - at >= kIn; at += kIn) {
                std::memcpy(m_staging, pcm + at, kIn);
                code(m_staging, produced);
            }
        }
        if (at < byteCount) {
            m_held = byteCount - at;
            std::memcpy(m_staging, pcm + at, static_cast<std::size_t>(m_held));
        }
        return produced;
    }

    // Several blocks of staging, in passes: a pass appends as much input as
    // the staging has room for and codes the oldest block held, so whole
    // blocks may stay held across calls, one coded per pass (G.723.1).
    int encodeRing(const BYTE* pcm, int byteCount) {
        int produced = 0;
        int at = 0;
        while (at < byteCount) {
            const int take = std::min(byteCount - at, kStagingBytes - m_held);
            const BYTE* in = pcm + at;
            at += take;
            if (m_held == 0 && take >= kIn && reinterpret_cast<std::uintptr_t>(in) % alignof(std::int16_t) == 0) {
                // Nothing waits in front of it: the block is coded where it lies.
                code(in, produced);
                stage(in + kIn, take - kIn);
                continue;
            }
            stage(in, take);
            if (m_held < kIn) break;
            code(m_staging + m_first, produced);
            m_first = (m_first + kIn) % kStagingBytes;
            m_held -= kIn;
        }
        return produced;
    }

    // Whole blocks, one sink, nothing held, the bytes passed through: coded
    // where they lie and handed on to m_lean, with none of the general
    // path's bookkeeping. Whatever a sink does meanwhile (push, change the
    // set, let go of the encoder) moves m_delivery on from Lean, and the
    // general path's ending then runs instead.
    HRESULT onLeanCall(const BYTE* data, std::uint32_t blocks) {
        m_delivery = Delivery::Lean;
        m_leanLength = static_cast<LONG>(blocks * Blocks::kOutBlock);
        const HRESULT failed = com::guarded([&] {
            static_cast<Derived*>(this)->encodeBlocks(reinterpret_cast<const std::int16_t*>(data),
                                                      static_cast<int>(blocks), m_leanOut);
            // Read back rather than kept across the calls: fewer registers to save.
            m_lean->OnEncodedData(m_leanOut, m_leanLength);
            return S_OK;
        });
        if (m_delivery != Delivery::Lean || failed != S_OK) [[unlikely]]
            return leanCallEnded(this, failed);
        m_delivery = Delivery::Ready;  // nothing it depends on has changed
        return S_OK;
    }

    // A lean call a sink disturbed, or threw out of (then nothing more is
    // taken): what the general path does after its walk, then its ending.
    [[gnu::noinline]] static HRESULT leanCallEnded(IKvAudioEncoder* self, HRESULT hr) {
        return core(self).leanCallEnded(hr);
    }
    HRESULT leanCallEnded(HRESULT hr) {
        m_lean = nullptr;  // its walk is over
        m_delivery = Delivery::Busy;
        if (hr == S_OK) {
            hr = com::guarded([&] {
                if (!m_retired.empty()) releaseRetired();
                if (!m_pending.empty()) takePending();
                return S_OK;
            });
        }
        endDelivery();
        return hr;
    }

    // Called wherever what the lean call depends on may have changed. Inside
    // a delivery m_lean stays what the delivery walks, and is settled at its end.
    void settleLean() {
        if (m_delivery == Delivery::Lean) m_delivery = Delivery::Busy;
        if (delivering()) return;
        const bool lean = Blocks::kStagingBlocks == 1 && m_sinks.size() == 1 && m_passThrough && m_held == 0;
        m_lean = lean ? m_sinks[0].get() : nullptr;
        m_delivery = lean ? Delivery::Ready : Delivery::Idle;
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
        // Equal formats: on success the converter passes the bytes through.
        m_passThrough = m_converter.initConvert(&capture, &capture) == 0;
        m_pRecorder->SetProperty(KV_W("SamplesPerSec"), KV_W("16000"));
        m_pRecorder->SetProperty(KV_W("BitsPerSample"), KV_W("16"));
        m_pRecorder->AddDataTarget(defaultInterface());
        settleLean();
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
        if (length > 0) {
            if (m_passThrough) {
                // What the converter would hand back: the caller's own bytes.
                converted = const_cast<BYTE*>(data);
                convertedLength = static_cast<DWORD>(length);
            } else {
                m_converter.convert(data, static_cast<DWORD>(length), &converted, &convertedLength);
            }
        }
        BYTE* block = nullptr;
        int blockLength = 0;
        Encode(converted, static_cast<int>(convertedLength), &block, &blockLength);
        deliver(block, blockLength);
    }

    // Sinks may add or remove sinks while being called: the walk goes over a
    // snapshot, and a sink removed meanwhile is kept (m_retired) until the
    // walk ends. Deliveries never nest (see onAudioData), and the snapshot's
    // room was made by AddSink, so a delivery allocates nothing and cannot
    // fail half-way.
    void deliver(BYTE* block, int length) {
        const std::size_t n = m_sinks.size();
        if (n == 1) {
            // The common case needs no room beyond the one pointer.
            IKvAudioSink* const one = m_sinks[0].get();
            const Walk walk{&one, 1};
            m_walk = &walk;
            one->OnEncodedData(block, length);
            m_walk = nullptr;
        } else if (n > 1) {
            deliverToAll(block, length, n);
        }
        if (!m_retired.empty()) releaseRetired();
    }

    [[gnu::noinline]] void deliverToAll(BYTE* block, int length, std::size_t n) {
        Snapshot snapshot = std::move(m_snapshot);
        for (std::size_t i = 0; i < n; ++i) snapshot.at[i] = m_sinks[i].get();
        const Walk walk{snapshot.at.get(), n};
        m_walk = &walk;
        for (std::size_t i = 0; i < n; ++i) snapshot.at[i]->OnEncodedData(block, length);
        m_walk = nullptr;
        // A sink added meanwhile made fresh room; keep whichever is larger.
        if (snapshot.capacity >= m_snapshot.capacity) m_snapshot = std::move(snapshot);
    }

    // In the order the walk would have let go of its own references.
    [[gnu::noinline]] void releaseRetired() {
        std::vector<SinkPtr> retired;
        retired.swap(m_retired);
        std::sort(retired.begin(), retired.end(), [](const SinkPtr& a, const SinkPtr& b) { return a.get() < b.get(); });
        for (SinkPtr& s : retired) s.reset();
    }

    void releaseSinks() {
        std::vector<SinkPtr> sinks;
        sinks.swap(m_sinks);
    }

    // Every live encoder object keeps the server loaded; first in, so it is
    // let go only when everything else of the object is gone.
    com::ModuleLock m_moduleLock;
    const OLECHAR* m_registryName;
    com::ComPtr<IKvObjectRegistry> m_pRegistry;
    std::vector<SinkPtr> m_sinks;  // ascending by pointer, one reference each
    com::ComPtr<IKvAudioRecorder> m_pRecorder;
    codecs::CPCMSampleConvert m_converter;

    // Room for one delivery's walk: raw pointers, held by the set (or by
    // m_retired) for as long as the walk needs them.
    struct Snapshot {
        std::unique_ptr<IKvAudioSink*[]> at;
        std::size_t capacity = 0;
        Snapshot() = default;
        Snapshot(Snapshot&& o) noexcept : at(std::move(o.at)), capacity(std::exchange(o.capacity, 0)) {}
        Snapshot& operator=(Snapshot&& o) noexcept {
            at = std::move(o.at);
            capacity = std::exchange(o.capacity, 0);
            return *this;
        }
        void reserve(std::size_t n) {
            if (n <= capacity) return;
            at = std::make_unique<IKvAudioSink*[]>(n);
            capacity = n;
        }
    };
    // The sinks the delivery under way calls.
    struct Walk {
        IKvAudioSink* const* at;
        std::size_t size;
        bool holds(IKvAudioSink* s) const { return std::find(at, at + size, s) != at + size; }
    };
    // Between deliveries, a call of whole blocks may take the lean way
    // (Ready) or not (Idle); inside one, a lean call nothing has disturbed
    // yet, or any other. All but Ready lie above every block count (see
    // OnAudioData).
    enum class Delivery : std::uint32_t { Ready = 0, Idle = 1u << 16, Lean = 2u << 16, Busy = 3u << 16 };
    static_assert(kMaxBlocks < static_cast<int>(Delivery::Idle));
    bool delivering() const { return m_delivery >= Delivery::Lean; }

    Snapshot m_snapshot;
    const Walk* m_walk = nullptr;    // the general delivery's walk under way
    LONG m_leanLength = 0;           // what a lean call hands on
    BYTE* const m_leanOut = m_out;   // and where
    std::vector<SinkPtr> m_retired;  // removed while a walk still needs them
    bool m_passThrough = false;      // the converter hands the caller's bytes back
    Delivery m_delivery = Delivery::Idle;
    // The one sink, while a call may take the lean way; in a lean call, the sink it calls.
    IKvAudioSink* m_lean = nullptr;
    std::vector<Pending> m_pending;               // calls that came in during a delivery, in arrival order
    com::LastReference<Derived> m_lastReference;  // kept until the delivery under way ends

    alignas(std::int16_t) BYTE m_staging[kStagingBytes] = {};
    int m_first = 0;  // where the oldest byte held is, a multiple of kIn
    int m_held = 0;   // bytes held
    BYTE m_out[kOutBytes] = {};
};

}  // namespace kv::encoders
