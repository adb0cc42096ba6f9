// Entry point of KvAudioEncoder.dll (win32 only; the host links the server in).
#include "com/DllMain.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) { return kv::com::dllMain(instance, reason); }
