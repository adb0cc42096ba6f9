// The memory sink's bytes as scripts get them: only win32 has byte arrays.
#include "components/Sinks.h"
#include "tests/components/helpers.h"

using namespace kvtest;
namespace kc = kv::components;

namespace {

TEST(MemorySink, GivesScriptsItsBytesAsAByteArray) {
    auto sink = kv::com::make<kc::CKvMemorySink>();
    for (const Bytes& block : {Bytes{}, Bytes{1, 2, 3, 0xFF}}) {
        EXPECT_EQ(sink->OnEncodedData(const_cast<BYTE*>(block.data()), static_cast<LONG>(block.size())), S_OK);
        VARIANT data;
        ASSERT_EQ(sink->get_Data(&data), S_OK);
        ASSERT_EQ(V_VT(&data), VT_ARRAY | VT_UI1);
        EXPECT_EQ(SafeArrayGetDim(V_ARRAY(&data)), 1u);
        LONG lower = -1, upper = -2;
        EXPECT_EQ(SafeArrayGetLBound(V_ARRAY(&data), 1, &lower), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(V_ARRAY(&data), 1, &upper), S_OK);
        EXPECT_EQ(lower, 0);
        EXPECT_EQ(upper, static_cast<LONG>(block.size()) - 1) << "an empty array while nothing is kept";
        const BYTE* bytes = static_cast<const BYTE*>(V_ARRAY(&data)->pvData);
        EXPECT_EQ(Bytes(bytes, bytes + upper + 1), block);
        VariantClear(&data);
    }
}

}  // namespace
