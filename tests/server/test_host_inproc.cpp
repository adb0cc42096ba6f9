// On host the server is linked into the program: once announced under its
// module path and registered, CoCreateInstance finds it through the registry
// as the runtime finds a DLL.
#include "com/ServerExports.h"
#include "interfaces/Interfaces.h"

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

    TLIBATTR attributes{};
    attributes.guid = LIBID_KvAudioEncoderLib;
    attributes.lcid = 0x0409;
    attributes.syskind = SYS_WIN32;
    attributes.wMajorVerNum = 1;
    attributes.wMinorVerNum = 0;
    kv::host::setModuleTypeLib(path.c_str(), attributes, u"KvAudioEncoderLib", u"KvAudioEncoder 1.0 Type Library");
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
