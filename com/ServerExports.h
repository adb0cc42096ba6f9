#pragma once

// The exported entry points of an in-process server module, made from its
// com::thisServer() by ServerExports.cpp. On the host the server is linked
// into programs, which call them directly.

#include "platform/win32.h"

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
STDAPI DllInstall(BOOL install, LPCWSTR cmdLine);
