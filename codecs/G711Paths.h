#pragma once

// The instruction-set paths behind CG711Codec's block calls. The block calls
// take the fastest one the processor has; tests run each one by name.

#include <cstdint>

namespace kv::codecs::g711 {

enum class Law { A, Mu };
enum class Path { Table, Avx2 };

bool available(Path path);

// n >= 1 samples to n codes; nothing is checked.
void encode(Path path, Law law, const std::int16_t* samples, std::int32_t n, std::uint8_t* codes);

}  // namespace kv::codecs::g711
