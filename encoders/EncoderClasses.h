#pragma once

#include "platform/win32.h"

namespace kvencoders {

// Makes the encoder classes creatable with CoCreateInstance in this process
// (each thread that creates them must have initialised COM). Returns the
// first failure; RevokeEncoderClasses undoes what succeeded.
HRESULT RegisterEncoderClasses();
void RevokeEncoderClasses();

}  // namespace kvencoders
