// Shared pieces of the component tests: WAVE files built byte by byte, a
// scratch folder, and a data target that records what it is pushed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "com/Object.h"
#include "components/Components.h"
#include "com/NoTypeInfo.h"

namespace kvtest {

using Bytes = std::vector<BYTE>;

inline void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<BYTE>(v));
    b.push_back(static_cast<BYTE>(v >> 8));
}
inline void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
inline void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

// One RIFF chunk with its pad byte; `declared` overrides the size field.
inline Bytes chunk(const char id[5], const Bytes& body, std::int64_t declared = -1) {
    Bytes b(id, id + 4);
    put32(b, declared < 0 ? static_cast<std::uint32_t>(body.size()) : static_cast<std::uint32_t>(declared));
    append(b, body);
    if (body.size() & 1) b.push_back(0);
    return b;
}

inline Bytes fmtBody(unsigned tag, unsigned channels, std::uint32_t rate, unsigned bits) {
    Bytes b;
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * bits / 8);
    put16(b, channels * bits / 8);
    put16(b, bits);
    return b;
}

// WAVE_FORMAT_EXTENSIBLE whose sub-format GUID starts with `subtype` (1 PCM,
// 3 IEEE float) and goes on as every KSDATAFORMAT_SUBTYPE_* does.
inline Bytes extensibleBody(unsigned channels, std::uint32_t rate, unsigned bits, std::uint32_t subtype) {
    Bytes b = fmtBody(0xFFFE, channels, rate, bits);
    put16(b, 22);
    put16(b, bits);
    put32(b, channels == 1 ? 0x4 : 0x3);
    put32(b, subtype);
    for (BYTE x : {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) b.push_back(x);
    return b;
}

// "RIFF" size "WAVE" and the chunks; the size field is the true one unless given.
inline Bytes riff(const std::vector<Bytes>& chunks, std::int64_t declared = -1) {
    Bytes body{'W', 'A', 'V', 'E'};
    for (const Bytes& c : chunks) append(body, c);
    Bytes b{'R', 'I', 'F', 'F'};
    put32(b, declared < 0 ? static_cast<std::uint32_t>(body.size()) : static_cast<std::uint32_t>(declared));
    append(b, body);
    return b;
}

inline Bytes samples16(const std::vector<int>& values) {
    Bytes b;
    for (int v : values) put16(b, static_cast<unsigned>(v) & 0xFFFF);
    return b;
}

inline std::vector<int> toSamples16(const Bytes& b) {
    std::vector<int> s;
    for (std::size_t i = 0; i + 1 < b.size(); i += 2) s.push_back(static_cast<std::int16_t>(b[i] | b[i + 1] << 8));
    return s;
}

inline Bytes pcmWave(unsigned channels, std::uint32_t rate, unsigned bits, const Bytes& data) {
    return riff({chunk("fmt ", fmtBody(1, channels, rate, bits)), chunk("data", data)});
}

// A folder of its own under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() / ("kvtest-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::filesystem::path write(const std::string& name, const Bytes& bytes) const {
        const auto p = m_path / name;
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << p;
        return p;
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline Bytes readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline kv::components::OleString ole(const std::filesystem::path& p) {
    const std::u16string u = p.u16string();
    return kv::components::OleString(u.begin(), u.end());
}

// A data target standing in for an encoder: keeps every OnAudioData call,
// and counts the flushes. `onData` runs inside the call, for targets that act
// on the recorder then.
class RecordingTarget : public kv::com::implements<RecordingTarget, kv::com::NoTypeInfo<IKvAudioEncoder>,
                                                   kv::com::alias<IDispatch, IKvAudioEncoder>,
                                                   kv::com::NoTypeInfo<IKvAudioEncoderControl>> {
public:
    explicit RecordingTarget(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~RecordingTarget() override {
        if (m_destroyed) *m_destroyed = true;
    }

    HRESULT STDMETHODCALLTYPE Reserved1(LONG, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved2(LONG, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSink(IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveSink(IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Flush() override {
        ++flushes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnAudioData(BYTE* data, LONG length) override {
        calls.emplace_back(data, data + length);
        if (scribble) std::fill(data, data + length, BYTE{0xEE});
        if (onData) onData(*this);
        return S_OK;
    }

    Bytes joined() const {
        Bytes all;
        for (const Bytes& c : calls) append(all, c);
        return all;
    }

    std::vector<Bytes> calls;
    int flushes = 0;
    std::function<void(RecordingTarget&)> onData;
    bool scribble = false;  // overwrite the caller's buffer after reading it

private:
    bool* m_destroyed;
};

// COM on this thread and the components registered, for each test.
class ComponentsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(kv::components::RegisterComponents(), S_OK);
    }
    void TearDown() override {
        kv::components::RevokeComponents();
        CoUninitialize();
    }
};

}  // namespace kvtest
