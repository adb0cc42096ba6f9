// The server of KvAudioDecoder.dll, for its exports: apart from the class
// table so that programs on the host may link the table beside another
// module's server.
#include "decoders/dll/ClassTable.h"

const kv::com::InprocServer& kv::com::thisServer() { return kv::decoders::dll::server(); }
