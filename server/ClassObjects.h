#pragma once

// The exported entry points of KvAudioEncoder.dll (linked into programs on
// the host).

#include "platform/win32.h"

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine);
