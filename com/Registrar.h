#pragma once

// Registration of the encoder module: its AppID, its four classes (with their
// ProgIDs) and the type library it carries as resource 1 of type "TYPELIB".
// The entries are kept as data, not as script text, so odd module paths
// (spaces, apostrophes, percent signs) are written exactly as given.

#include "platform/win32.h"

namespace kv::com {

// Writes the AppID entries, then the class entries in object-map order, then
// registers the type library read from the module file. Stops at the first
// failure and returns it; what was written before stays.
HRESULT RegisterServer(const OLECHAR* modulePath);

// Removes the class entries in object-map order and unregisters the module's
// type library; only when all that succeeded, removes the AppID entries.
// Stops at the first failure and returns it.
HRESULT UnregisterServer(const OLECHAR* modulePath);

}  // namespace kv::com
