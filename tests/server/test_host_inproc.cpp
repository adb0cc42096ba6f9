// On host the server is linked into the program: once announced under its
// module path and registered, CoCreateInstance finds it through the registry
// as the runtime finds a DLL.
#include "com/ServerExports.h"
#include "interfaces/Interfaces.h"
#include "tests/published_ids.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::u16string programPath() {
    std::vector<OLECHAR> path(32768);
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::u16string(path.data(), n);
}

TEST(HostInprocServer, RegisteredLinkedServerIsCreatedThroughTheRegistry) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    const std::u16string path = programPath();
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_KV_AudioG711U, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder, &p),
              REGDB_E_CLASSNOTREG)
        << "nothing registered yet";

    const published::TypeLibrary& lib = published::kEncoderLib;
    kv::host::setModuleTypeLib(path.c_str(), {published::guid<GUID>(lib.libId), lib.lcid, SYS_WIN32, 1, 0, 0},
                               published::text<OLECHAR>(lib.libName).c_str(),
                               published::text<OLECHAR>(lib.libHelp).c_str());
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_KV_AudioG711U, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder, &p),
              HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
        << "registered, but no module answers for the path";

    kv::host::addLinkedModule(path, DllGetClassObject, DllCanUnloadNow);
    for (const CLSID* clsid :
         {&CLSID_KV_AudioG711A, &CLSID_KV_AudioG711U, &CLSID_KV_AudioG7231, &CLSID_KV_AudioQuorvan}) {
        IKvAudioEncoder* encoder = nullptr;
        ASSERT_EQ(CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder,
                                   reinterpret_cast<void**>(&encoder)),
                  S_OK);
        EXPECT_EQ(encoder->Reserved1(0, 0), E_NOTIMPL);
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
        encoder->Release();
    }
    CoFreeUnusedLibraries();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_KV_AudioG711A, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder, &p),
              REGDB_E_CLASSNOTREG);
    kv::host::forgetModuleTypeLib(path.c_str());
    CoUninitialize();
}

}  // namespace
