#include "com/ServerExports.h"

#include "com/InprocServer.h"
#include "com/Module.h"

using kv::com::thisServer;
using kv::com::registrar::Scope;

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return thisServer().getClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return kv::com::canUnloadNow(); }

STDAPI DllRegisterServer() { return thisServer().registerModule(true, Scope::Machine); }

STDAPI DllUnregisterServer() { return thisServer().registerModule(false, Scope::Machine); }

// regsvr32 /i:user (with /n: alone) registers for the calling user only.
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine) { return thisServer().installModule(install, cmdLine); }
