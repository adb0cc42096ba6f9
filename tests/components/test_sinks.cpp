// The memory and file sinks: what they keep and count, block by block.
#include "components/Sinks.h"
#include "com/Bstr.h"
#include "tests/com/last_error.h"
#include "tests/components/helpers.h"

#include <iostream>

using kv::com::ComPtr;
using namespace kvtest;
namespace kc = kv::components;

namespace {

// The same blocks through either sink; null with length 0 is an empty block.
struct Block {
    Bytes bytes;
    bool null = false;
};
const std::vector<Block> kBlocks = {{{1, 2, 3}}, {{}, true}, {{}}, {Bytes(160, 0xD5)}, {{9}}};

template <class Sink>
void deliver(Sink& sink) {
    for (Block b : kBlocks)
        EXPECT_EQ(sink.OnEncodedData(b.null ? nullptr : b.bytes.data(), static_cast<LONG>(b.bytes.size())), S_OK);
}

Bytes allBytes() {
    Bytes all;
    for (const Block& b : kBlocks) append(all, b.bytes);
    return all;
}

LONG received(IKvAudioSink& sink) {
    LONG n = -1;
    EXPECT_EQ(sink.GetBytesReceived(&n), S_OK);
    return n;
}

TEST(MemorySink, KeepsTheBytesAndWhereEachBlockBegan) {
    auto sink = kv::com::make<kc::CKvMemorySink>();
    deliver(*sink);
    EXPECT_EQ(sink->bytes(), allBytes());
    EXPECT_EQ(sink->blocks(), (std::vector<LONG>{3, 0, 0, 160, 1}));
    EXPECT_EQ(received(*sink), 164);
    sink->clear();
    EXPECT_TRUE(sink->blocks().empty());
    EXPECT_EQ(received(*sink), 0);
}

// A block that would pass the limit is refused whole, and so is every block
// after it until Clear; nothing refused is counted.
TEST(MemorySink, RefusesWhatPassesItsLimitUntilCleared) {
    const struct {
        LONG limit;
        std::vector<LONG> blocks;
        std::vector<HRESULT> results;
        LONG kept, count;
    } cases[] = {
        {10, {4, 6, 0, 1, 0}, {S_OK, S_OK, S_OK, kc::E_KV_SINK_FULL, kc::E_KV_SINK_FULL}, 10, 3},
        {10, {4, 7, 1, 0}, {S_OK, kc::E_KV_SINK_FULL, kc::E_KV_SINK_FULL, kc::E_KV_SINK_FULL}, 4, 1},
        {5000, {3000, 2000}, {S_OK, S_OK}, 5000, 2},  // grown past a doubling, to the limit exactly
    };
    const Bytes source(5000, 0x5A);
    for (const auto& c : cases) {
        auto sink = kv::com::make<kc::CKvMemorySink>();
        LONG limit = 0;
        EXPECT_EQ(sink->get_Limit(&limit), S_OK);
        EXPECT_EQ(limit, 268435456);
        EXPECT_EQ(sink->put_Limit(-1), E_INVALIDARG);
        ASSERT_EQ(sink->put_Limit(c.limit), S_OK);
        for (std::size_t i = 0; i < c.blocks.size(); ++i)
            EXPECT_EQ(sink->OnEncodedData(const_cast<BYTE*>(source.data()), c.blocks[i]), c.results[i])
                << "limit " << c.limit << ", block " << i;
        LONG count = -1;
        EXPECT_EQ(sink->get_BlockCount(&count), S_OK);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(received(*sink), c.kept);
        EXPECT_EQ(sink->bytes(), Bytes(source.begin(), source.begin() + c.kept));

        const bool failed = c.results.back() != S_OK;
        VARIANT_BOOL flag = 1;
        EXPECT_EQ(sink->get_Failed(&flag), S_OK);
        EXPECT_EQ(flag, failed ? VARIANT_TRUE : VARIANT_FALSE);
        BSTR why = nullptr;
        ASSERT_EQ(sink->get_FailureReason(&why), S_OK);
        EXPECT_EQ(kc::OleString(why ? why : KV_W("")).find(KV_W("limit is 10 bytes")) != kc::OleString::npos, failed);
        SysFreeString(why);

        EXPECT_EQ(sink->Clear(), S_OK);
        EXPECT_EQ(sink->OnEncodedData(const_cast<BYTE*>(source.data()), 1), S_OK) << "taken again after Clear";
    }
}

// C++ callers read the bytes where they are, through the sink's QueryInterface.
TEST(MemorySink, LendsItsBytes) {
    auto sink = kv::com::make<kc::CKvMemorySink>();
    deliver(*sink);
    auto buffer = sink.query<IKvMemorySinkBuffer>();
    ASSERT_TRUE(buffer);
    const BYTE* data = nullptr;
    LONG length = -1;
    ASSERT_EQ(buffer->GetBuffer(&data, &length), S_OK);
    EXPECT_EQ(Bytes(data, data + length), allBytes());
}

TEST(MemorySink, RefusesBlocksItCannotRead) {
    auto sink = kv::com::make<kc::CKvMemorySink>();
    BYTE b = 1;
    EXPECT_EQ(sink->OnEncodedData(nullptr, 4), E_POINTER);
    EXPECT_EQ(sink->OnEncodedData(&b, -1), E_INVALIDARG);
    EXPECT_EQ(sink->GetBytesReceived(nullptr), E_POINTER);
    EXPECT_TRUE(sink->blocks().empty());
    EXPECT_EQ(received(*sink), 0);
}

TEST(FileSink, WritesEveryBlockInOrder) {
    TempDir dir;
    const auto path = dir.path() / "out.bin";
    dir.write("out.bin", Bytes(1000, 0x55));  // an older, longer file is replaced
    auto sink = kv::com::make<kc::CKvFileSink>();
    ASSERT_EQ(sink->open(path), S_OK);
    EXPECT_EQ(sink->open(path), E_UNEXPECTED);
    deliver(*sink);
    EXPECT_EQ(received(*sink), 164);
    EXPECT_EQ(sink->status(), S_OK);
    EXPECT_EQ(readFile(path), Bytes(1000, 0x55)) << "the old file stays whole until the close";
    EXPECT_EQ(sink->close(), S_OK);
    EXPECT_EQ(sink->close(), S_FALSE);
    EXPECT_EQ(readFile(path), allBytes());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "and nothing beside it";

    // Released while open, it puts its file in place all the same; through a
    // symbolic link (where the platform makes one), in place of what it names.
    std::error_code noLink;
    std::filesystem::create_symlink("out.bin", dir.path() / "link.bin", noLink);
    const auto via = noLink ? path : dir.path() / "link.bin";
    ASSERT_EQ(sink->open(via), S_OK);
    BYTE last = 7;
    EXPECT_EQ(sink->OnEncodedData(&last, 1), S_OK);
    sink.reset();
    EXPECT_EQ(readFile(path), Bytes{7});
    EXPECT_EQ(std::filesystem::is_symlink(via), !noLink);
}

// Whether an input would be replaced goes by the file, however it is named.
TEST(FileSink, TellsWhichFilesItWillReplace) {
    TempDir dir;
    const auto target = dir.write("out.bin", Bytes(10, 1));
    const auto other = dir.write("other.bin", Bytes(10, 1));
    const struct {
        const char* what;
        std::filesystem::path input;
        bool replaced;
        std::function<void(std::filesystem::path&, std::error_code&)> make;
    } inputs[] = {
        {"the same spelling", target, true, nullptr},
        {"another spelling", dir.path() / "." / "out.bin", true, nullptr},
        {"a hard link", dir.path() / "hard.bin", true,
         [&](auto& p, auto& ec) { std::filesystem::create_hard_link(target, p, ec); }},
        {"a symbolic link", dir.path() / "soft.bin", true,
         [&](auto& p, auto& ec) { std::filesystem::create_symlink(target, p, ec); }},
        {"another file", other, false, nullptr},
        {"no file", dir.path() / "none.bin", false, nullptr},
    };
    auto sink = kv::com::make<kc::CKvFileSink>();
    ASSERT_EQ(sink->open(target), S_OK);
    for (auto input : inputs) {
        std::error_code ec;
        if (input.make) input.make(input.input, ec);
        if (ec) {
            std::cout << "skipped: this platform cannot make " << input.what << " (" << ec.message() << ")\n";
            continue;
        }
        EXPECT_EQ(kc::replacedByOpenFileSink(input.input), input.replaced) << input.what;
    }
    EXPECT_EQ(sink->close(), S_OK);
    EXPECT_FALSE(kc::replacedByOpenFileSink(target)) << "not after the close";
}

class FileSinkErrors : public ComponentsTest {};

// Each failure, for scripts, says what went wrong and keeps the end of a long path.
TEST_F(FileSinkErrors, ReportsWhatItCouldNotWrite) {
    TempDir dir;
    auto sink = kv::com::make<kc::CKvFileSink>();
    const struct {
        std::filesystem::path path;
        HRESULT result;
        const char* why;
    } cases[] = {
        {dir.path() / std::string(150, 'f') / "out.bin", kc::E_KV_PATH_NOT_FOUND, "its folder does not exist"},
        {dir.path(), E_ACCESSDENIED, "it is a folder"},
    };
    for (const auto& c : cases) {
        kv::com::Bstr path(ole(c.path).c_str());
        EXPECT_EQ(sink->Open(path.get()), c.result);
        const std::string description = lastError();
        EXPECT_NE(description.find(c.why), std::string::npos) << description;
        EXPECT_LT(description.size(), 200u) << "a long path is clipped";
    }
    // Bytes that reach a sink with no file are lost, and it says so.
    BYTE b[2] = {1, 2};
    EXPECT_EQ(sink->OnEncodedData(b, 2), E_UNEXPECTED);
    EXPECT_EQ(sink->status(), E_UNEXPECTED);
    EXPECT_EQ(sink->OnEncodedData(nullptr, 0), S_OK) << "an empty block loses nothing";

    // When the new file cannot be put in its place, it goes and the target stays.
    const auto target = dir.path() / "out.bin";
    ASSERT_EQ(sink->open(target), S_OK);
    std::filesystem::create_directories(target / "in the way");
    EXPECT_EQ(sink->OnEncodedData(b, 2), S_OK);
    EXPECT_EQ(sink->Close(), E_ACCESSDENIED);
    EXPECT_TRUE(std::filesystem::is_directory(target / "in the way"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no new file is left";
}

}  // namespace
