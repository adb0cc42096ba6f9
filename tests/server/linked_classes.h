#pragma once

// Makes the encoder classes of the class table creatable with
// CoCreateInstance in this process, without registering the server; each
// thread that creates them must have initialised COM. Returns the first
// failure; revokeLinkedClasses undoes what succeeded.

#include "platform/win32.h"

namespace kvtest {

HRESULT registerLinkedClasses();
void revokeLinkedClasses();

}  // namespace kvtest
