// Host: there are no DLLs here, so the server is linked into the program and
// announced under the program's own path. DllRegisterServer then writes the
// InprocServer32 entries for that path into the stand-in's registry, and
// CoCreateInstance finds the classes through them as Windows finds the DLL.
// The stand-in's registry lives in the process, so nothing outlasts the run.
#include "tools/kvencode/Server.h"

#include <vector>

#include "com/ServerExports.h"

namespace kv::tools {

struct EncoderServer::State {
    HRESULT status = S_OK;
};

EncoderServer::EncoderServer() : m_state(std::make_unique<State>()) {
    std::vector<OLECHAR> path(32768);
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) {
        m_state->status = E_FAIL;
        return;
    }
    // The type library a built KvAudioEncoder.dll carries as its resource;
    // registration reads it from the module file, which here is the program.
    const TLIBATTR library = {LIBID_KvAudioEncoderLib, 0x0409, SYS_WIN32, 1, 0, LIBFLAG_FHASDISKIMAGE};
    kv::host::setModuleTypeLib(path.data(), library, u"KvAudioEncoderLib", u"KvAudioEncoder 1.0 Type Library");
    kv::host::addLinkedModule(std::u16string(path.data(), n), DllGetClassObject, DllCanUnloadNow);
    m_state->status = DllRegisterServer();
}

EncoderServer::~EncoderServer() = default;

HRESULT EncoderServer::status() const { return m_state->status; }

HRESULT EncoderServer::createEncoder(REFCLSID clsid, IKvAudioEncoder** encoder, std::string& note) {
    note.clear();
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKvAudioEncoder,
                            reinterpret_cast<void**>(encoder));
}

}  // namespace kv::tools
