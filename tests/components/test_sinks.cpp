// The memory and file sinks: what they keep and count, block by block.
#include "components/Sinks.h"
#include "tests/components/helpers.h"

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
    EXPECT_EQ(sink->close(), S_OK);
    EXPECT_EQ(sink->close(), S_FALSE);
    EXPECT_EQ(readFile(path), allBytes());
}

TEST(FileSink, ReportsWhatItCouldNotWrite) {
    TempDir dir;
    auto sink = kv::com::make<kc::CKvFileSink>();
    EXPECT_EQ(sink->open(dir.path() / "no-such-folder" / "out.bin"), E_ACCESSDENIED);
    EXPECT_EQ(sink->open(dir.path()), E_ACCESSDENIED) << "a folder is no file";
    // Bytes that reach a sink with no file are lost, and it says so.
    BYTE b[2] = {1, 2};
    EXPECT_EQ(sink->OnEncodedData(b, 2), E_UNEXPECTED);
    EXPECT_EQ(sink->status(), E_UNEXPECTED);
    EXPECT_EQ(sink->OnEncodedData(nullptr, 0), S_OK) << "an empty block loses nothing";
}

}  // namespace
