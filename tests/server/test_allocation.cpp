// Allocation failure at every allocation point of each public method, in
// turn: the call reports a failure instead of letting an exception into the
// host, leaves the object usable and leaks nothing. A counting allocator
// replaces the global one for this program.
#include "com/ServerExports.h"
#include "com/ClassFactory.h"
#include "com/Module.h"
#include "interfaces/Interfaces.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>

namespace {

// Armed with n, the allocator fails its n-th allocation from then on (0 is
// the next one) and every one after it until disarmed.
struct Allocations {
    long countdown = -1;
    bool failed = false;
    long live = 0;
} g_alloc;

void* allocate(std::size_t size, std::size_t align, bool nothrow) {
    if (g_alloc.countdown >= 0 && (g_alloc.failed || g_alloc.countdown-- == 0)) {
        g_alloc.failed = true;
        if (nothrow) return nullptr;
        throw std::bad_alloc();
    }
    if (size == 0) size = 1;
    void* p = align > alignof(std::max_align_t) ? std::aligned_alloc(align, (size + align - 1) / align * align)
                                                : std::malloc(size);
    if (!p) {
        if (nothrow) return nullptr;
        throw std::bad_alloc();
    }
    ++g_alloc.live;
    return p;
}
void release(void* p) noexcept {
    if (!p) return;
    --g_alloc.live;
    std::free(p);
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n, 0, false); }
void* operator new[](std::size_t n) { return allocate(n, 0, false); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n, 0, true); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n, 0, true); }
void* operator new(std::size_t n, std::align_val_t a) { return allocate(n, static_cast<std::size_t>(a), false); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocate(n, static_cast<std::size_t>(a), false); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }

namespace {

// Outside components that allocate nothing while armed, so that every
// failure is the module's own.
template <class I>
class Plain : public I {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, kv::com::iidOf<I>())) {
            *ppv = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }  // lives in the test
    long refs = 1;
};

template <class I>
class PlainDispatch : public Plain<I> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

struct Recorder : PlainDispatch<IKvAudioRecorder> {
    HRESULT STDMETHODCALLTYPE CaptureFile(LPCOLESTR, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetProperty(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddDataTarget(IUnknown*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveDataTarget(IUnknown*) override { return S_OK; }
};

struct Registry : PlainDispatch<IKvObjectRegistry> {
    HRESULT STDMETHODCALLTYPE AddObject(LPCOLESTR, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveObject(BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LookupObject(LPCOLESTR, IUnknown** object) override {
        *object = recorder;  // lent
        return S_OK;
    }
    IUnknown* recorder = nullptr;
};

// Counts bytes; may push PCM back into the encoder from its delivery.
struct Sink : PlainDispatch<IKvAudioSink> {
    HRESULT STDMETHODCALLTYPE GetBytesReceived(LONG* n) override {
        *n = bytes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEncodedData(BYTE*, LONG length) override {
        bytes += length;
        if (echoInto) {
            IKvAudioEncoder* e = std::exchange(echoInto, nullptr);
            echoed = e->OnAudioData(pcm, sizeof pcm);
        }
        return S_OK;
    }
    LONG bytes = 0;
    IKvAudioEncoder* echoInto = nullptr;
    HRESULT echoed = S_OK;
    BYTE pcm[960] = {};
};

struct Factory : Plain<IClassFactory> {
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        return object->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    IUnknown* object = nullptr;
};

const CLSID* const kClasses[] = {&CLSID_KV_AudioG711A, &CLSID_KV_AudioG711U, &CLSID_KV_AudioG7231,
                                 &CLSID_KV_AudioQuorvan};

class Allocation : public ::testing::Test {
protected:
    void SetUp() override {
        // Set up when the library loads, before any call can reach it.
        ASSERT_TRUE(kv::com::module().initialised());
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        registry.recorder = &recorder;
        registryFactory.object = &registry;
        recorderFactory.object = &recorder;
        CoRegisterClassObject(kv::CLSID_KvObjectRegistry, &registryFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                              &m_cookies[0]);
        CoRegisterClassObject(kv::CLSID_KvAudioRecorder, &recorderFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                              &m_cookies[1]);
    }
    void TearDown() override {
        CoRevokeClassObject(m_cookies[0]);
        CoRevokeClassObject(m_cookies[1]);
        CoUninitialize();
        EXPECT_EQ(DllCanUnloadNow(), S_OK);
    }

    // Runs setUp (unarmed), then call with its n-th allocation failing, for
    // n = 0, 1, ... until a run makes no allocation fail. Every armed run must
    // fail with E_OUTOFMEMORY; check (unarmed) then proves the object usable,
    // and cleanUp must give back everything setUp and call took.
    struct Steps {
        std::function<void()> setUp;
        std::function<HRESULT()> call;
        std::function<void()> check;
        std::function<void()> cleanUp;
    };
    // A call that fills the module's caches (the class objects and their
    // clean-up) keeps what it put there for the life of the module; there
    // the leak check at exit, under the sanitizers, stands in for the count.
    static int failEveryAllocation(const char* what, const Steps& s, bool fillsModuleCaches = false) {
        for (long n = 0; n < 10000; ++n) {
            const long live = g_alloc.live;
            s.setUp();
            g_alloc = {n, false, g_alloc.live};
            const HRESULT hr = s.call();
            const bool failed = g_alloc.failed;
            g_alloc.countdown = -1;
            if (!failed) {
                EXPECT_EQ(hr, S_OK) << what << ": no allocation left to fail";
                s.cleanUp();
                if (!fillsModuleCaches) {
                    EXPECT_EQ(g_alloc.live, live) << what;
                }
                return static_cast<int>(n);
            }
            EXPECT_EQ(hr, E_OUTOFMEMORY) << what << ", allocation " << n;
            s.check();
            s.cleanUp();
            SetErrorInfo(0, nullptr);  // the failure's description is the thread's, not a leak
            if (!fillsModuleCaches) {
                EXPECT_EQ(g_alloc.live, live) << what << ", allocation " << n << ": leaked";
            }
        }
        ADD_FAILURE() << what << ": never ran out of allocations";
        return -1;
    }

    IKvAudioEncoder* create(const CLSID& clsid) {
        IKvAudioEncoder* e = nullptr;
        IClassFactory* factory = nullptr;
        EXPECT_EQ(DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IKvAudioEncoder, reinterpret_cast<void**>(&e)), S_OK);
        factory->Release();
        return e;
    }
    // The object takes the sink (S_OK: a failed AddSink added nothing) and
    // delivers to it.
    static void expectWorking(IKvAudioEncoder* e, Sink& sink, HRESULT added = S_OK) {
        BYTE pcm[960] = {};
        const LONG before = sink.bytes;
        EXPECT_EQ(e->AddSink(&sink), added);
        EXPECT_EQ(e->OnAudioData(pcm, sizeof pcm), S_OK);
        EXPECT_GT(sink.bytes, before);
    }

    Recorder recorder;
    Registry registry;
    Factory registryFactory, recorderFactory;

private:
    DWORD m_cookies[2] = {};
};

TEST_F(Allocation, ClassObjectsAndCreation) {
    for (const CLSID* clsid : kClasses) {
        IClassFactory* factory = nullptr;
        failEveryAllocation(
            "DllGetClassObject",
            {[] {}, [&] { return DllGetClassObject(*clsid, IID_IClassFactory, (void**)&factory); }, [] {},
             [&] {
                 if (factory) factory->Release();
                 factory = nullptr;
             }},
            true);
        IKvAudioEncoder* e = nullptr;
        const int points = failEveryAllocation(
            "CreateInstance", {[&] { DllGetClassObject(*clsid, IID_IClassFactory, (void**)&factory); },
                               [&] { return factory->CreateInstance(nullptr, IID_IKvAudioEncoder, (void**)&e); }, [] {},
                               [&] {
                                   if (e) e->Release();
                                   factory->Release();
                                   e = nullptr;
                               }});
        EXPECT_GT(points, 0) << "creating an object allocates it";
    }
}

TEST_F(Allocation, SinksAndData) {
    for (const CLSID* clsid : kClasses) {
        IKvAudioEncoder* e = nullptr;
        Sink sinks[10];
        const auto release = [&] {
            for (Sink& s : sinks) e->RemoveSink(&s);
            e->Release();
        };
        // Each AddSink up to the tenth, so that the set grows more than once.
        for (int k = 0; k < 10; ++k) {
            failEveryAllocation("AddSink",
                                {[&] {
                                     e = create(*clsid);
                                     for (int i = 0; i < k; ++i) e->AddSink(&sinks[i]);
                                 },
                                 [&] { return e->AddSink(&sinks[k]); }, [&] { expectWorking(e, sinks[k]); }, release});
        }
        // Delivering and removing allocate nothing, so there is nothing to fail.
        e = create(*clsid);
        for (Sink& s : sinks) e->AddSink(&s);
        BYTE pcm[4800] = {};
        EXPECT_EQ(
            failEveryAllocation("OnAudioData", {[] {}, [&] { return e->OnAudioData(pcm, sizeof pcm); }, [] {}, [] {}}),
            0);
        EXPECT_EQ(failEveryAllocation("RemoveSink", {[] {}, [&] { return e->RemoveSink(&sinks[3]); }, [] {},
                                                     [&] { e->AddSink(&sinks[3]); }}),
                  0);
        release();

        // Input pushed from inside a delivery is kept for later: a nested
        // call that cannot keep it says so, and the outer call goes on.
        failEveryAllocation("OnAudioData from a delivery", {[&] {
                                                                e = create(*clsid);
                                                                e->AddSink(&sinks[0]);
                                                                sinks[0].echoInto = e;
                                                            },
                                                            [&] {
                                                                const HRESULT outer = e->OnAudioData(pcm, 960);
                                                                return outer == S_OK ? sinks[0].echoed : E_UNEXPECTED;
                                                            },
                                                            [&] { expectWorking(e, sinks[0], S_FALSE); }, release});
    }
}

}  // namespace
