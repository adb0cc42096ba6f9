#pragma once

// What the round trip through the encoder and decoder classes needs from
// where it runs: on host the classes are linked into the test program
// (round_trip_host.cpp); under Wine they are the registered DLLs, and the
// client of those (tests/dll/components_client.cpp) runs the round trip.

#include <filesystem>

namespace kvtest {

// tests/data, as the program reaches it.
std::filesystem::path roundTripData();

}  // namespace kvtest
