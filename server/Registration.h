#pragma once

// Registration of KvAudioEncoder.dll: its AppID, its classes (with their
// ProgIDs) and the type library it carries as resource 1 of type "TYPELIB".

#include "platform/win32.h"

namespace kv::server {

// Writes the AppID entries, then the class entries in object-map order, then
// registers the type library read from the module file. Stops at the first
// failure and returns it; what was written before stays.
HRESULT RegisterServer(const OLECHAR* modulePath);

// Removes the class entries in object-map order and unregisters the module's
// type library; only when all that succeeded, removes the AppID entries.
// Stops at the first failure and returns it.
HRESULT UnregisterServer(const OLECHAR* modulePath);

}  // namespace kv::server
