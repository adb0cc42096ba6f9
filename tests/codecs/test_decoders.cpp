// The stream decoder against FFmpeg's decoders, run as a black box on the
// same bytes, and against the G.723.1 reference vectors, the stream cut into
// calls of every size; and the Quorvan stream's round trip through our own
// encoder.
#include "codecs/G722Codec.h"
#include "codecs/StreamDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using kv::codecs::StreamFormat;
using Bytes = std::vector<std::uint8_t>;

const std::filesystem::path kWork = KV_TEST_WORK_DIR;
const std::string kSpeech = std::string(KV_TEST_DATA_DIR) + "/g7231/speech_en.pcm";

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// FFmpeg run on `input` (written to a file when given) as `inputArgs`, its
// output as `outputArgs`.
Bytes ffmpeg(const std::string& inputArgs, const Bytes& input, const std::string& outputArgs) {
    const std::filesystem::path in = kWork / "ffmpeg-in.bin";
    const std::filesystem::path out = kWork / "ffmpeg-out.bin";
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(input.data()), input.size());
    const std::string command = "ffmpeg -nostdin -v error -y " + inputArgs +
                                (input.empty() ? "" : " -i " + in.string()) + " " + outputArgs + " " + out.string();
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return readFile(out);
}

struct Collect : kv::codecs::PcmOutput {
    Bytes bytes;  // s16le, as FFmpeg writes them
    void pcm(const std::int16_t* samples, int count) override {
        for (int i = 0; i < count; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(samples[i]));
            bytes.push_back(static_cast<std::uint8_t>(samples[i] >> 8));
        }
    }
};

// Our decode of the stream cut into calls of 1 to 1000 bytes.
Bytes decode(kv::codecs::CStreamDecoder& decoder, const Bytes& stream) {
    Collect out;
    std::size_t at = 0;
    for (std::size_t size = 1; at < stream.size(); size = size * 7 % 1001) {
        const std::size_t n = std::min(size, stream.size() - at);
        decoder.decode(stream.data() + at, n, out);
        at += n;
    }
    EXPECT_EQ(decoder.flush(), 0u);
    return out.bytes;
}

std::string difference(const Bytes& ours, const Bytes& theirs) {
    if (ours == theirs) return "";
    const auto at = std::mismatch(ours.begin(), ours.end(), theirs.begin(), theirs.end());
    return std::to_string(ours.size()) + " bytes against " + std::to_string(theirs.size()) + ", first difference at " +
           std::to_string(at.first - ours.begin());
}

TEST(DecodersAgainstFfmpeg, G711OnEveryByte) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    for (const auto& [format, name] : {std::pair{StreamFormat::G711A, "alaw"}, {StreamFormat::G711U, "mulaw"}}) {
        kv::codecs::CStreamDecoder decoder(format);
        EXPECT_EQ(difference(decode(decoder, all), ffmpeg(std::string("-f ") + name + " -ar 8000", all, "-f s16le")),
                  "")
            << name;
    }
}

// FFmpeg's encoder on speech, then every byte value and random bytes: codes
// no encoder makes, at each rate's alignment.
TEST(DecodersAgainstFfmpeg, G722AtEveryRate) {
    Bytes stream = ffmpeg("-f s16le -ar 16000 -ac 1 -i " + kSpeech, {}, "-f g722");
    ASSERT_GT(stream.size(), 40000u);
    std::mt19937 random(722);
    for (int i = 0; i < 4 * 256; ++i) stream.push_back(static_cast<std::uint8_t>(i));
    for (int i = 0; i < 20000; ++i) stream.push_back(static_cast<std::uint8_t>(random()));
    for (int bits : {8, 7, 6}) {
        kv::codecs::CStreamDecoder decoder(StreamFormat::G722, bits);
        const std::string args = "-bits_per_codeword " + std::to_string(bits) + " -f g722";
        EXPECT_EQ(difference(decode(decoder, stream), ffmpeg(args, stream, "-f s16le")), "") << bits << " bits";
    }
}

// Frames of every size and type cut across calls, and frames marked lost
// while their first byte is held: the reference decoder's samples all the same.
TEST(StreamDecoder, PutsG7231FramesBackTogether) {
    const std::string data = std::string(KV_TEST_DATA_DIR) + "/g7231-decode/";
    for (const char* name : {"speech_en.mix", "noise.v53", "voice_a.v63"}) {
        kv::codecs::CStreamDecoder decoder(StreamFormat::G7231);
        EXPECT_EQ(difference(decode(decoder, readFile(data + name + ".g7231")), readFile(data + name + ".pf.pcm")), "")
            << name;
    }
    // Every frame of a 6.3 kbit/s stream is 24 bytes.
    const Bytes stream = readFile(data + "speech_en.r63.g7231");
    kv::codecs::CStreamDecoder decoder(StreamFormat::G7231);
    Collect out;
    std::size_t at = 0;
    std::ifstream lost(data + "lost.txt");
    for (std::string frame; std::getline(lost, frame, ',');) {
        const std::size_t held = 24 * std::stoul(frame) + 1;
        decoder.decode(stream.data() + at, held - at, out);
        at = held;
        EXPECT_TRUE(decoder.frameLost());
    }
    decoder.decode(stream.data() + at, stream.size() - at, out);
    EXPECT_EQ(difference(out.bytes, readFile(data + "speech_en.r63.lost.pcm")), "");
}

double power(const std::vector<double>& x) {
    double sum = 0;
    for (double v : x) sum += v * v;
    return sum / static_cast<double>(x.size());
}

// Speech with its peak at -12 dBFS through the Quorvan encoder and back.
TEST(QuorvanRoundTrip, SpeechKeepsItsLevelAndShape) {
    const Bytes raw = readFile(kSpeech);
    std::vector<std::int16_t> speech(raw.size() / 2);
    for (std::size_t i = 0; i < speech.size(); ++i)
        speech[i] = static_cast<std::int16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
    const int peak = std::abs(
        *std::max_element(speech.begin(), speech.end(), [](int a, int b) { return std::abs(a) < std::abs(b); }));
    const double gain = 32768 * std::pow(10.0, -12 / 20.0) / peak;
    for (std::int16_t& s : speech) s = static_cast<std::int16_t>(std::lround(s * gain));

    kv::codecs::CG722Codec encoder;
    encoder.initCodec(64000, 8000);
    Bytes stream(speech.size());
    std::int32_t count = 0;
    encoder.encodeG722(speech.data(), static_cast<std::int32_t>(2 * speech.size()), stream.data(), &count);
    ASSERT_EQ(count, static_cast<std::int32_t>(speech.size()));
    kv::codecs::CStreamDecoder decoder(StreamFormat::Quorvan);
    const Bytes decoded = decode(decoder, stream);
    ASSERT_EQ(decoded.size(), 2 * speech.size());

    std::vector<double> in, out, error;
    for (std::size_t i = 0; i < speech.size(); ++i) {
        in.push_back(speech[i]);
        out.push_back(static_cast<std::int16_t>(decoded[2 * i] | decoded[2 * i + 1] << 8));
        error.push_back(out.back() - in.back());
    }
    const double levelChange = 10 * std::log10(power(out) / power(in));
    const double snr = 10 * std::log10(power(in) / power(error));
    std::printf("Quorvan round trip: level %+.3f dB, SNR %.2f dB\n", levelChange, snr);
    EXPECT_LT(std::abs(levelChange), 0.5);
    EXPECT_GT(snr, 35.0);
}

}  // namespace
