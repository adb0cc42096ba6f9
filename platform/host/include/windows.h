// Generated interface headers include the system headers by these names;
// on host they all lead to the stand-in.
#pragma once
#include "platform/win32.h"
