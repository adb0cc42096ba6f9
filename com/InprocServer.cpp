#include "com/InprocServer.h"

#include "com/Barrier.h"
#include "com/Module.h"

#include <vector>

namespace kv::com {

using namespace registrar;

HRESULT InprocServer::getClassObject(REFCLSID rclsid, REFIID riid, void** ppv) const {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (std::size_t i = 0; i < m_classes.size(); ++i) {
        if (IsEqualGUID(m_classes[i].clsid, rclsid))
            return com::getClassObject(m_cache[i], m_classes[i].create, riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

namespace {

Replacements forModule(const OLECHAR* modulePath, const OLECHAR* appId, const OLECHAR* libId) {
    Replacements r;
    r.module = modulePath;
    r.appId = appId;
    r.libId = libId;
    return r;
}

Replacements forClass(Replacements r, const ServerClass& c) {
    r.description = c.description;
    r.progId = c.progId;
    r.versionIndependentProgId = c.versionIndependentProgId;
    r.clsid = c.clsidText;
    return r;
}

// The library's identifier as the scripts write it.
class LibIdText {
public:
    explicit LibIdText(const GUID* libId) {
        if (libId) StringFromGUID2(*libId, m_text, 39);
    }
    const OLECHAR* get() const { return m_text[0] ? m_text : nullptr; }

private:
    OLECHAR m_text[39] = {};
};

}  // namespace

HRESULT InprocServer::registerServer(const OLECHAR* modulePath, Scope scope) const {
    if (!modulePath) return E_POINTER;
    SystemLocaleScope locale;
    const LibIdText libId(m_scripts.libId);
    const Replacements r = forModule(modulePath, m_scripts.appId, libId.get());
    HRESULT hr = m_scripts.moduleScript.empty() ? S_OK : registerScript(m_scripts.moduleScript, r, scope);
    for (const ServerClass& c : m_classes) {
        if (FAILED(hr)) break;
        hr = registerScript(m_scripts.classScript, forClass(r, c), scope);
    }
    if (SUCCEEDED(hr)) hr = registerTypeLib(modulePath, scope);
    return hr;
}

HRESULT InprocServer::unregisterServer(const OLECHAR* modulePath, Scope scope) const {
    if (!modulePath) return E_POINTER;
    SystemLocaleScope locale;
    const LibIdText libId(m_scripts.libId);
    const Replacements r = forModule(modulePath, m_scripts.appId, libId.get());
    HRESULT hr = S_OK;
    for (const ServerClass& c : m_classes) {
        hr = unregisterScript(m_scripts.classScript, forClass(r, c), scope);
        if (FAILED(hr)) break;
    }
    if (SUCCEEDED(hr)) hr = unregisterTypeLib(modulePath, scope);
    if (SUCCEEDED(hr) && !m_scripts.moduleScript.empty()) hr = unregisterScript(m_scripts.moduleScript, r, scope);
    return hr;
}

HRESULT InprocServer::registerModule(bool install, Scope scope) const {
    return guarded([&] {
        std::vector<OLECHAR> path;
        const HRESULT hr = modulePath(path);
        if (FAILED(hr)) return hr;
        return install ? registerServer(path.data(), scope) : unregisterServer(path.data(), scope);
    });
}

HRESULT InprocServer::installModule(BOOL install, const OLECHAR* commandLine) const {
    Scope scope;
    if (!scopeFromCommandLine(commandLine, scope)) return E_INVALIDARG;
    return registerModule(install != FALSE, scope);
}

}  // namespace kv::com
