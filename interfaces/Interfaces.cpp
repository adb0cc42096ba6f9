#include "interfaces/Interfaces.h"

namespace kv {
const GUID LIBID_KvLib = com::guid("{575AA7B5-E1A9-414D-8EF9-AAE317E10B10}");
}
