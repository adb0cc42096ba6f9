// Host: the encoder, decoder and component classes linked in and made
// creatable for the run, on the thread of one single-threaded apartment.
#include "components/Components.h"
#include "decoders/dll/ClassTable.h"
#include "tests/server/linked_classes.h"

#include <gtest/gtest.h>

namespace {

class LinkedClasses : public testing::Environment {
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_TRUE(SUCCEEDED(kv::components::RegisterComponents()));
        ASSERT_EQ(kvtest::registerLinkedClasses(), S_OK);
        ASSERT_EQ(kvtest::registerLinkedClasses(kv::decoders::dll::server()), S_OK);
    }
    void TearDown() override {
        kvtest::revokeLinkedClasses();
        kv::components::RevokeComponents();
        CoUninitialize();
    }
};

testing::Environment* const g_linkedClasses = testing::AddGlobalTestEnvironment(new LinkedClasses);

}  // namespace
