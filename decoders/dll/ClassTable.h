#pragma once

// KvAudioDecoder.dll as an in-process server, made from its class table.

#include "com/InprocServer.h"

namespace kv::decoders::dll {

const com::InprocServer& server();

}  // namespace kv::decoders::dll
