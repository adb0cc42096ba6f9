#include "server/Registration.h"

#include "com/Registrar.h"
#include "server/ClassTable.h"

namespace kv::server {
namespace {

using namespace com::registrar;

constexpr const OLECHAR* kAppId = KV_W("{AFEA8802-29E0-48ED-AA81-B04D306642A9}");

// Script 101: the AppID.
constexpr Line kAppIdScript[] = {
    key(0, lit(KV_W("AppID")), kNone, Rule::NeverRemoved),
    key(1, var(Var::AppId), lit(KV_W("KvAudioEncoder"))),
    key(1, lit(KV_W("KvAudioEncoder.DLL"))),
    value(2, KV_W("AppID"), var(Var::AppId)),
};

// Scripts 102 to 105 share this form; a row of the class table fills it in.
constexpr Line kClassScript[] = {
    key(0, var(Var::ProgId), var(Var::Description)),
    key(1, lit(KV_W("CLSID")), var(Var::Clsid)),
    key(0, var(Var::VersionIndependentProgId), var(Var::Description)),
    key(1, lit(KV_W("CLSID")), var(Var::Clsid)),
    key(1, lit(KV_W("CurVer")), var(Var::ProgId)),
    key(0, lit(KV_W("CLSID")), kNone, Rule::NeverRemoved),
    key(1, var(Var::Clsid), var(Var::Description), Rule::RemovedBeforeWritten),
    key(2, lit(KV_W("ProgID")), var(Var::ProgId)),
    key(2, lit(KV_W("VersionIndependentProgID")), var(Var::VersionIndependentProgId)),
    key(2, lit(KV_W("Programmable")), kNone, Rule::RemovedBeforeWritten),
    key(2, lit(KV_W("InprocServer32")), var(Var::Module)),
    value(3, KV_W("ThreadingModel"), lit(KV_W("Apartment"))),
    value(2, KV_W("AppID"), var(Var::AppId)),
    key(2, lit(KV_W("TypeLib")), lit(KV_W("{43CFE32C-E2DD-487D-8A1C-6888F61998D9}"))),
};

static_assert(wellFormed(kAppIdScript));
static_assert(wellFormed(kClassScript));

Replacements forAppId(const OLECHAR* modulePath) {
    Replacements r;
    r.module = modulePath;
    r.appId = kAppId;
    return r;
}

Replacements forClass(const OLECHAR* modulePath, const ClassRow& row) {
    Replacements r = forAppId(modulePath);
    r.description = row.description;
    r.progId = row.progId;
    r.versionIndependentProgId = row.versionIndependentProgId;
    r.clsid = row.clsidText;
    return r;
}

}  // namespace

HRESULT RegisterServer(const OLECHAR* modulePath, Scope scope) {
    if (!modulePath) return E_POINTER;
    SystemLocaleScope locale;
    HRESULT hr = registerScript(kAppIdScript, forAppId(modulePath), scope);
    for (const ClassRow& row : classTable()) {
        if (FAILED(hr)) break;
        hr = registerScript(kClassScript, forClass(modulePath, row), scope);
    }
    if (SUCCEEDED(hr)) hr = registerTypeLib(modulePath, scope);
    return hr;
}

HRESULT UnregisterServer(const OLECHAR* modulePath, Scope scope) {
    if (!modulePath) return E_POINTER;
    SystemLocaleScope locale;
    HRESULT hr = S_OK;
    for (const ClassRow& row : classTable()) {
        hr = unregisterScript(kClassScript, forClass(modulePath, row), scope);
        if (FAILED(hr)) break;
    }
    if (SUCCEEDED(hr)) hr = unregisterTypeLib(modulePath, scope);
    if (SUCCEEDED(hr)) hr = unregisterScript(kAppIdScript, forAppId(modulePath), scope);
    return hr;
}

}  // namespace kv::server
