// The four encoder objects under call sequences decoded from the input.
//
// The encoder objects driven by call sequences decoded from the input: sinks
// added and removed (null, not a sink, twice), PCM pushed with any length
// (negative, zero, odd, far past the staging area, with null data), sinks that
// push PCM, add or remove sinks or drop the encoder from inside
// OnEncodedData, the running capture component entered in and removed from
// the registry, and the final release at any point, inside a delivery too.
//
// Property of every run: one observer sink, added first and never removed,
// receives exactly the encoding of all PCM the object was given, in arrival
// order, as a fresh object makes it from the same bytes in one call.
// G.723.1 codes one frame per pass of a call and may hold whole frames back,
// so there the observer's stream is a whole-frame prefix of the fresh
// object's, fed in 480-byte calls.
#include <algorithm>
#include <climits>
#include <vector>

#include "com/ClassFactory.h"
#include "com/NoTypeInfo.h"
#include "encoders/KV_AudioG711.h"
#include "encoders/KV_AudioG7231.h"
#include "encoders/KV_AudioQuorvan.h"
#include "tests/fuzz/input.h"

namespace {

using kv::com::ComPtr;
using kv::com::NoTypeInfo;
using kvfuzz::Input;

// The capture component double: it accepts everything and holds no targets.
class Recorder : public kv::com::implements<Recorder, NoTypeInfo<IKvAudioRecorder>> {
public:
    HRESULT STDMETHODCALLTYPE CaptureFile(LPCOLESTR, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProperty(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddDataTarget(IUnknown*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveDataTarget(IUnknown*) override { return S_OK; }
};

// The registry double keeps one reference per entry and hands out borrowed
// pointers, as the contract allows: an encoder that releases what
// LookupObject gave it frees the running recorder under the registry.
class Registry : public kv::com::implements<Registry, NoTypeInfo<IKvObjectRegistry>> {
public:
    HRESULT STDMETHODCALLTYPE AddObject(LPCOLESTR, IUnknown* object) override {
        running = ComPtr<IUnknown>(object);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveObject(BSTR) override {
        running.reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LookupObject(LPCOLESTR, IUnknown** object) override {
        if (!object) return E_POINTER;
        *object = running.get();
        return running ? S_OK : S_FALSE;
    }
    ComPtr<IUnknown> running;
};

template <class Make>
class Factory : public kv::com::implements<Factory<Make>, IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        return Make{}()->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

ComPtr<Registry>& registry() {
    static ComPtr<Registry> r = kv::com::make<Registry>();
    return r;
}
struct MakeRegistry {
    ComPtr<Registry> operator()() const { return registry(); }
};
struct MakeRecorder {
    ComPtr<Recorder> operator()() const { return kv::com::make<Recorder>(); }
};

// PCM to push: noise under a slowly changing envelope, so the codecs take
// their quiet and loud paths.
const std::vector<BYTE>& noise() {
    static const std::vector<BYTE> n = [] {
        std::vector<BYTE> v(1 << 20);
        std::uint32_t x = 12345;
        for (std::size_t i = 0; i + 1 < v.size(); i += 2) {
            x = x * 1664525u + 1013904223u;
            const int shift = static_cast<int>((i >> 13) % 12);
            const auto s = static_cast<std::int16_t>(static_cast<std::int16_t>(x >> 16) >> shift);
            v[i] = static_cast<BYTE>(s & 0xFF);
            v[i + 1] = static_cast<BYTE>((s >> 8) & 0xFF);
        }
        return v;
    }();
    return n;
}

enum Behaviour { kPlain, kPush, kMutate, kRelease };

struct Run;

class Sink : public kv::com::implements<Sink, NoTypeInfo<IKvAudioSink>> {
public:
    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* count) override {
        *count = static_cast<LONG>(bytes.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE* data, LONG length) override;

    Run* run = nullptr;
    Behaviour behaviour = kPlain;
    bool record = false;
    int references = 0;  // encoder references this sink holds and drops at its next delivery
    std::vector<BYTE> bytes;
};

constexpr int kPool = 4;

struct Run {
    Run(Input& input, IKvAudioEncoder* e, long bytes) : in(input), encoder(e), budget(bytes) {}

    Input& in;
    IKvAudioEncoder* encoder;
    bool driverHolds = true;
    long budget;  // PCM bytes a run may still push, to keep it to milliseconds
    int reentries = 0;
    std::vector<BYTE> stream;  // every PCM byte the object was given, in arrival order
    ComPtr<Sink> observer;
    ComPtr<Sink> pool[kPool];
    ComPtr<IUnknown> notASink;

    bool alive() const {
        if (driverHolds) return true;
        for (const auto& s : pool)
            if (s->references > 0) return true;
        return false;
    }

    // One OnAudioData call with a length from the whole range.
    void push() {
        static const LONG kEdges[] = {1,   2,   3,    159,  160,  161,  319,  320,  321,  479,  480,   481,
                                      959, 960, 4321, 4799, 4800, 4801, 6399, 6400, 6401, 9600, 48000, 48481};
        const std::uint8_t k = in.byte();
        bool withData = true;
        LONG length = 0;
        switch (k % 8) {
            case 0:
                length = k & 8 ? INT_MIN : -static_cast<LONG>(in.u16());
                break;
            case 1:
                length = 0;
                break;
            case 2:
                length = k >> 3;
                break;
            case 3:
                length = in.u16() % 2048;
                break;
            case 4:
                length = kEdges[(k >> 3) % std::size(kEdges)];
                break;
            case 5:
                length = static_cast<LONG>(in.u16()) * 16;
                break;
            case 6:
                length = k & 8 ? INT_MAX : static_cast<LONG>(in.u32() & 0x7FFFFFFF);
                withData = false;
                break;
            default:
                length = static_cast<LONG>(in.u16());
                withData = false;
                break;
        }
        if (!withData) {
            encoder->OnAudioData(nullptr, length);
            return;
        }
        if (length > budget) length = static_cast<LONG>(budget);
        const std::size_t offset = static_cast<std::size_t>(in.u16()) * 2;
        BYTE* data = const_cast<BYTE*>(noise().data()) + offset;
        if (length > 0) {
            budget -= length;
            stream.insert(stream.end(), data, data + length);
        }
        encoder->OnAudioData(data, length);
    }

    IUnknown* choose(std::uint8_t k) {
        switch (k % 8) {
            case 4:
                return nullptr;
            case 5:
                return notASink.get();
            default:
                return static_cast<IKvAudioSink*>(pool[k % kPool].get());
        }
    }
};

HRESULT Sink::OnEncodedData(BYTE* data, LONG length) {
    if (length > 0) KV_FUZZ_CHECK(data != nullptr);
    if (record && length > 0) bytes.insert(bytes.end(), data, data + length);
    switch (behaviour) {
        case kPlain:
            break;
        case kPush:
            if (run->reentries < 8) {
                ++run->reentries;
                run->push();
            }
            break;
        case kMutate: {
            const std::uint8_t k = run->in.byte();
            if (k & 0x80)
                run->encoder->RemoveSink(run->choose(k));
            else
                run->encoder->AddSink(run->choose(k));
            break;
        }
        case kRelease:
            if (references > 0) {
                --references;
                run->encoder->Release();
            }
            break;
    }
    return S_OK;
}

void setRunning(bool on) {
    if (on) {
        registry()->AddObject(kv::kRecorderName, kv::com::make<Recorder>().template query<IUnknown>().get());
    } else {
        registry()->running.reset();
    }
}

template <class T>
ComPtr<IKvAudioEncoder> create() {
    ComPtr<IKvAudioEncoder> e;
    KV_FUZZ_CHECK(kv::com::createInstance<T>(nullptr, IID_IKvAudioEncoder, e.put_void()) == S_OK && e);
    return e;
}

// What a fresh object makes of the stream in one call (G.723.1: 480-byte calls).
template <class T>
std::vector<BYTE> reference(std::vector<BYTE> stream, LONG callBytes) {
    setRunning(false);
    ComPtr<IKvAudioEncoder> e = create<T>();
    ComPtr<Sink> sink = kv::com::make<Sink>();
    sink->record = true;
    KV_FUZZ_CHECK(e->AddSink(static_cast<IKvAudioSink*>(sink.get())) == S_OK);
    for (std::size_t at = 0; at < stream.size(); at += static_cast<std::size_t>(callBytes)) {
        const LONG n = std::min<LONG>(callBytes, static_cast<LONG>(stream.size() - at));
        e->OnAudioData(stream.data() + at, n);
    }
    e.reset();
    return sink->bytes;
}

template <class T>
void fuzzClass(Input& in, long budget, bool wholeFrames) {
    setRunning(in.byte() & 1);
    ComPtr<IKvAudioEncoder> held = create<T>();
    Run run(in, held.detach(), budget);
    run.observer = kv::com::make<Sink>();
    run.observer->record = true;
    run.notASink = kv::com::make<Recorder>().template query<IUnknown>();
    const std::uint8_t behaviours = in.byte();
    for (int i = 0; i < kPool; ++i) {
        run.pool[i] = kv::com::make<Sink>();
        run.pool[i]->run = &run;
        run.pool[i]->behaviour = static_cast<Behaviour>((behaviours >> (2 * i)) & 3);
    }
    KV_FUZZ_CHECK(run.encoder->AddSink(static_cast<IKvAudioSink*>(run.observer.get())) == S_OK);

    for (int ops = 0; ops < 48 && !in.empty() && run.alive(); ++ops) {
        const std::uint8_t op = in.byte();
        switch (op % 8) {
            case 0:
            case 1:
                run.push();
                break;
            case 2: {
                IUnknown* s = run.choose(op >> 3);
                const HRESULT hr = run.encoder->AddSink(s);
                if (!s) KV_FUZZ_CHECK(hr == E_POINTER);
                if (s == run.notASink.get()) KV_FUZZ_CHECK(hr == E_NOINTERFACE);
                break;
            }
            case 3:
                run.encoder->RemoveSink(run.choose(op >> 3));
                break;
            case 4: {
                Sink& s = *run.pool[(op >> 3) % kPool];
                run.encoder->AddRef();
                ++s.references;
                break;
            }
            case 5:
                if (run.driverHolds) {
                    run.driverHolds = false;
                    run.encoder->Release();
                }
                break;
            case 6:
                setRunning(!registry()->running);
                break;
            default:
                run.encoder->OnAudioData(nullptr, 0);
                break;
        }
    }
    // The last references go: the object ends here unless it already did.
    if (run.driverHolds) run.encoder->Release();
    for (auto& s : run.pool)
        for (; s->references > 0; --s->references) run.encoder->Release();
    setRunning(false);

    const std::vector<BYTE> expected = reference<T>(run.stream, wholeFrames ? 480 : INT_MAX);
    const std::vector<BYTE>& got = run.observer->bytes;
    if (wholeFrames) {
        KV_FUZZ_CHECK(got.size() % 24 == 0 && got.size() <= expected.size());
        KV_FUZZ_CHECK(std::equal(got.begin(), got.end(), expected.begin()));
    } else {
        KV_FUZZ_CHECK(got == expected);
    }
}

void setUp() {
    static const bool done = [] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        static auto registryFactory = kv::com::make<Factory<MakeRegistry>>();
        static auto recorderFactory = kv::com::make<Factory<MakeRecorder>>();
        DWORD cookie = 0;
        CoRegisterClassObject(kv::CLSID_KvObjectRegistry, static_cast<IClassFactory*>(registryFactory.get()),
                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        CoRegisterClassObject(kv::CLSID_KvAudioRecorder, static_cast<IClassFactory*>(recorderFactory.get()),
                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        noise();
        return true;
    }();
    (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    setUp();
    Input in(data, size);
    switch (in.byte() % 4) {
        case 0:
            fuzzClass<kv::encoders::CKV_AudioG711A>(in, 65536, false);
            break;
        case 1:
            fuzzClass<kv::encoders::CKV_AudioG711U>(in, 65536, false);
            break;
        case 2:
            fuzzClass<kv::encoders::CKV_AudioQuorvan>(in, 65536, false);
            break;
        default:
            fuzzClass<kv::encoders::CKV_AudioG7231>(in, 2880, true);
            break;
    }
    return 0;
}
