// A module with the encoder module's resources and no code of its own: the
// registration tests register it, the resource tests read it.
#include "platform/win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
