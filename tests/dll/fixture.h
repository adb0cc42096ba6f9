#pragma once

// Shared by the client tests: a clean world before every test, and after it
// the module must hold no lock, so a reference leaked across the module's
// boundary shows up in the test that leaked it.

#include "tests/dll/doubles.h"

#include <gtest/gtest.h>

namespace client {

// The module as this process has it loaded (null when it is not).
inline HMODULE loadedModule() { return GetModuleHandleW(paths().dll.c_str()); }

// The module's own verdict, asked without loading it.
inline HRESULT canUnloadNow() {
    const HMODULE module = loadedModule();
    if (!module) return S_OK;
    using Fn = HRESULT(STDAPICALLTYPE*)();
    const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return fn ? fn() : E_FAIL;
}

// Where the registry says a class's server is.
inline std::wstring registeredServer(const EncoderClass& c) {
    const std::wstring key = L"CLSID\\" + wide(c.ids.clsid) + L"\\InprocServer32";
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS)
        return {};
    return path;
}

// The module loaded by its registered path, as a host does that calls the
// exports itself; unloaded again at the end of the scope.
class Library {
public:
    Library() : m_module(LoadLibraryW(registeredServer(kG711A).c_str())) {}
    ~Library() {
        if (m_module) FreeLibrary(m_module);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    explicit operator bool() const { return m_module != nullptr; }
    template <class Fn>
    Fn get(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    }
    HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** out) const {
        using Fn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        return get<Fn>("DllGetClassObject")(clsid, iid, out);
    }
    HRESULT canUnloadNow() const {
        using Fn = HRESULT(STDAPICALLTYPE*)();
        return get<Fn>("DllCanUnloadNow")();
    }

private:
    HMODULE m_module;
};

class ClientTest : public testing::Test {
protected:
    void SetUp() override { World::reset(); }
    void TearDown() override {
        World::reset();
        EXPECT_EQ(canUnloadNow(), S_OK) << "the module is still locked after the test";
    }

    static Ptr<IKvAudioEncoder> create(const EncoderClass& c) {
        Ptr<IKvAudioEncoder> encoder;
        EXPECT_EQ(CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder, encoder.putVoid()),
                  S_OK);
        return encoder;
    }

    // A capture component that every registry hands out as the running one.
    static Ptr<RecorderDouble> runningRecorder() {
        Ptr<RecorderDouble> recorder = make<RecorderDouble>();
        World::running = recorder.query<IUnknown>(IID_IUnknown);
        return recorder;
    }
};

// For TEST_P over the four classes.
class EachClass : public ClientTest, public testing::WithParamInterface<const EncoderClass*> {
protected:
    const EncoderClass& cls() const { return *GetParam(); }
};

inline std::string className(const testing::TestParamInfo<const EncoderClass*>& info) { return info.param->name; }

}  // namespace client
