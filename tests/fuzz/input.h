// Reading a fuzz input as a sequence of choices, and the check that turns a
// broken property into a crash libFuzzer keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace kvfuzz {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }
    std::size_t remaining() const { return m_size - m_pos; }

    // Past the end every choice is 0, so a short input is still a whole run.
    std::uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
    std::uint32_t u32() { return u16() | static_cast<std::uint32_t>(u16()) << 16; }

    // Up to n bytes of the rest, taken as they are.
    const std::uint8_t* bytes(std::size_t n, std::size_t* got) {
        *got = n < remaining() ? n : remaining();
        const std::uint8_t* p = m_data + m_pos;
        m_pos += *got;
        return p;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: fuzz property broken: %s\n", file, line, what);
    std::abort();
}

}  // namespace kvfuzz

#define KV_FUZZ_CHECK(cond) ((cond) ? void(0) : kvfuzz::fail(#cond, __FILE__, __LINE__))
