#pragma once

// What both platforms' env.h declare alike: the module's own verdict on
// unloading, the test data, what the process holds, and the options.

#include "platform/win32.h"

#include <cstdint>
#include <vector>

namespace env {

// The loaded module's DllCanUnloadNow; E_UNEXPECTED when it is not loaded.
HRESULT canUnloadNow();

std::vector<std::uint8_t> readData(const char* relativePath);

// What the process holds, named per platform by kUsageNames.
struct Usage {
    long long heapBytes;
    long long memoryBytes;
    long long handles;
};
Usage usage();

void parseOptions(int argc, char** argv);
long cyclesOption();

}  // namespace env
