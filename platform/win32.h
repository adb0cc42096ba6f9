// The one header through which the rest of the tree reaches Win32 and COM.
// On Windows it is the real system; on Linux a small stand-in with the same
// names and results, so the same module code runs and is tested natively.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <mmreg.h>
#include <msacm.h>
// OLECHAR is wchar_t here; KV_W spells a wide literal of the platform's kind.
#define KV_W(s) L##s
#define KV_PLATFORM_WIN32 1
// In oleaut32 (and its import library) but not in mingw-w64's headers.
WINOLEAUTAPI RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir);
WINOLEAUTAPI UnRegisterTypeLibForUser(REFGUID libID, WORD wMajorVerNum, WORD wMinorVerNum, LCID lcid, SYSKIND syskind);
#else
#include "platform/host/win32_host.h"
#define KV_W(s) u##s
#define KV_PLATFORM_WIN32 0
#endif
