// The thread locale: per thread, and stored as a concrete locale.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(ThreadLocale, BelongsToEachThread) {
    const LCID original = GetThreadLocale();
    ASSERT_NE(original, 0x0407u) << "the test needs a locale to change to";
    ASSERT_TRUE(SetThreadLocale(0x0407));
    EXPECT_EQ(GetThreadLocale(), 0x0407u);

    LCID seenByOther = 0;
    std::thread other([&] {
        seenByOther = GetThreadLocale();
        SetThreadLocale(0x0411);
    });
    other.join();
    EXPECT_EQ(seenByOther, original) << "a new thread starts from the default, not from its creator";
    EXPECT_EQ(GetThreadLocale(), 0x0407u) << "another thread's change stays there";
    ASSERT_TRUE(SetThreadLocale(original));
}

TEST(ThreadLocale, DefaultLocalesBecomeConcreteOnes) {
    const LCID original = GetThreadLocale();
    for (LCID pseudo : {LCID{LOCALE_SYSTEM_DEFAULT}, LCID{LOCALE_USER_DEFAULT}}) {
        SetThreadLocale(0x0407);
        EXPECT_TRUE(SetThreadLocale(pseudo));
        const LCID now = GetThreadLocale();
        EXPECT_NE(now, pseudo);
        EXPECT_NE(now, 0x0407u);
        EXPECT_NE(now & 0x3FFu, 0u) << "a real language";
    }
    SetThreadLocale(original);
}

}  // namespace
