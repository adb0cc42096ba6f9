#pragma once

// Makes the classes of a class table (the encoders', unless another server is
// named) creatable with CoCreateInstance in this process, without registering
// the server; each thread that creates them must have initialised COM.
// Returns the first failure; revokeLinkedClasses undoes what succeeded.

#include "com/InprocServer.h"

namespace kvtest {

HRESULT registerLinkedClasses(const kv::com::InprocServer& server = kv::com::thisServer());
void revokeLinkedClasses();

}  // namespace kvtest
