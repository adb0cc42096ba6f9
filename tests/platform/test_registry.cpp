// The registry calls the registrar and the tests use, under a scratch key of
// HKEY_CLASSES_ROOT: the stand-in must answer as Windows does.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using OleString = std::basic_string<OLECHAR>;

const OLECHAR* const kScratch = KV_W("KvTest.PlatformRegistry");

class Registry : public testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CLASSES_ROOT, kScratch); }
    void TearDown() override {
        for (HKEY h : m_open) RegCloseKey(h);
        RegDeleteTreeW(HKEY_CLASSES_ROOT, kScratch);
    }

    HKEY create(const OleString& sub, DWORD options = REG_OPTION_NON_VOLATILE, DWORD* disposition = nullptr) {
        HKEY h = nullptr;
        const OleString path = OleString(kScratch) + KV_W("\\") + sub;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &h,
                                  disposition),
                  ERROR_SUCCESS);
        m_open.push_back(h);
        return h;
    }
    LONG open(const OleString& sub, HKEY* out) {
        const OleString path = OleString(kScratch) + KV_W("\\") + sub;
        const LONG r = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, out);
        if (r == ERROR_SUCCESS) m_open.push_back(*out);
        return r;
    }
    static LONG set(HKEY h, const OLECHAR* name, const OleString& text) {
        return RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(OLECHAR)));
    }

    std::vector<HKEY> m_open;
};

TEST_F(Registry, CreatesPathsAndOpensThemWithoutRegardToCase) {
    DWORD disposition = 0;
    create(KV_W("Alpha\\Beta"), REG_OPTION_NON_VOLATILE, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    create(KV_W("ALPHA\\beta"), REG_OPTION_NON_VOLATILE, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

    HKEY h = nullptr;
    EXPECT_EQ(open(KV_W("alpha\\BETA"), &h), ERROR_SUCCESS);
    EXPECT_EQ(open(KV_W("Alpha\\\\Beta\\"), &h), ERROR_SUCCESS) << "empty path parts are skipped";
    EXPECT_EQ(open(KV_W("Alpha\\Gamma"), &h), ERROR_FILE_NOT_FOUND);

    // The name keeps the spelling it was created with.
    HKEY alpha = nullptr;
    ASSERT_EQ(open(KV_W("alpha"), &alpha), ERROR_SUCCESS);
    OLECHAR name[16];
    DWORD n = 16;
    ASSERT_EQ(RegEnumKeyExW(alpha, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(OleString(name, n), OleString(KV_W("Beta")));
}

TEST_F(Registry, QueriesValuesAsWindowsDoes) {
    HKEY h = create(KV_W("Values"));
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(h, nullptr, nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND)
        << "a new key has no default value";

    ASSERT_EQ(set(h, nullptr, KV_W("Hello")), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(h, KV_W(""), nullptr, &type, nullptr, &size), ERROR_SUCCESS)
        << "an empty name is the default value too";
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 12u);

    BYTE small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(h, nullptr, nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12u) << "a short buffer learns the size it needs";

    OLECHAR text[8] = {};
    size = sizeof text;
    EXPECT_EQ(RegQueryValueExW(h, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(OleString(text), OleString(KV_W("Hello")));
    EXPECT_EQ(RegQueryValueExW(h, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(h, KV_W("x"), 0, REG_SZ, nullptr, 4), ERROR_NOACCESS);

    // Named values: one value per name, whatever its case.
    ASSERT_EQ(set(h, KV_W("Name"), KV_W("v")), ERROR_SUCCESS);
    ASSERT_EQ(set(h, KV_W("NAME"), KV_W("w")), ERROR_SUCCESS);
    size = sizeof text;
    EXPECT_EQ(RegQueryValueExW(h, KV_W("name"), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_EQ(OleString(text), OleString(KV_W("w")));
    EXPECT_EQ(RegQueryValueExW(h, KV_W("Other"), nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, EnumeratesKeysAndValuesToTheEnd) {
    HKEY h = create(KV_W("Enum"));
    create(KV_W("Enum\\Zeta"));
    create(KV_W("Enum\\alpha"));
    create(KV_W("Enum\\Mid"));
    ASSERT_EQ(set(h, nullptr, KV_W("d")), ERROR_SUCCESS);
    ASSERT_EQ(set(h, KV_W("ThreadingModel"), KV_W("Apartment")), ERROR_SUCCESS);

    std::set<OleString> keys;
    OLECHAR name[32];
    DWORD n = 32;
    DWORD i = 0;
    for (;; ++i) {
        n = 32;
        const LONG r = RegEnumKeyExW(h, i, name, &n, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(r, ERROR_SUCCESS);
        keys.emplace(name, n);
    }
    EXPECT_EQ(i, 3u);
    EXPECT_EQ(keys, (std::set<OleString>{KV_W("Zeta"), KV_W("alpha"), KV_W("Mid")}));
    n = 3;
    EXPECT_EQ(RegEnumKeyExW(h, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA)
        << "a name must fit with its terminator";
    EXPECT_EQ(n, 3u);

    std::set<OleString> values;
    for (i = 0;; ++i) {
        n = 32;
        DWORD type = 0, size = 0;
        const LONG r = RegEnumValueW(h, i, name, &n, nullptr, &type, nullptr, &size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(r, ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        values.emplace(name, n);
    }
    EXPECT_EQ(values, (std::set<OleString>{KV_W(""), KV_W("ThreadingModel")}));
    n = 5;
    EXPECT_EQ(RegEnumValueW(h, 1, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
}

TEST_F(Registry, DeletesTreesAndLeavesDeadHandles) {
    HKEY top = create(KV_W("Tree"));
    HKEY leaf = create(KV_W("Tree\\A\\B"));
    ASSERT_EQ(set(top, KV_W("v"), KV_W("x")), ERROR_SUCCESS);

    // Without a subkey the key stays and loses everything in it.
    EXPECT_EQ(RegDeleteTreeW(top, nullptr), ERROR_SUCCESS);
    HKEY h = nullptr;
    EXPECT_EQ(open(KV_W("Tree"), &h), ERROR_SUCCESS);
    EXPECT_EQ(open(KV_W("Tree\\A"), &h), ERROR_FILE_NOT_FOUND);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(top, KV_W("v"), nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(set(leaf, KV_W("v"), KV_W("x")), ERROR_KEY_DELETED);

    create(KV_W("Tree\\C\\D"));
    const OleString tree = OleString(kScratch) + KV_W("\\tree");
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, tree.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(open(KV_W("Tree"), &h), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, tree.c_str()), ERROR_FILE_NOT_FOUND);

    // A handle of a deleted key refuses work but still closes, once.
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyExW(top, KV_W("E"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr),
              ERROR_KEY_DELETED);
    std::erase(m_open, top);
    EXPECT_EQ(RegCloseKey(top), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(top), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, VolatileKeysHoldOnlyVolatileKeys) {
    HKEY vol = create(KV_W("Volatile"), REG_OPTION_VOLATILE);
    HKEY h = nullptr;
    EXPECT_EQ(
        RegCreateKeyExW(vol, KV_W("Child"), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &h, nullptr),
        ERROR_CHILD_MUST_BE_VOLATILE);
    const OleString deep = OleString(kScratch) + KV_W("\\Volatile\\A\\B");
    EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, deep.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &h, nullptr),
              ERROR_CHILD_MUST_BE_VOLATILE);
    // Opening the volatile key itself asks nothing of its kind.
    DWORD disposition = 0;
    create(KV_W("Volatile"), REG_OPTION_NON_VOLATILE, &disposition);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    create(KV_W("Volatile\\VolatileChild"), REG_OPTION_VOLATILE);
    EXPECT_EQ(set(vol, nullptr, KV_W("values are fine")), ERROR_SUCCESS);
}

// Per-user registration sends what oleaut32 writes to HKEY_CLASSES_ROOT into
// the user's classes for as long as the override holds.
TEST_F(Registry, OverriddenClassesRootLandsInTheOtherKey) {
    const OleString userScratch = OleString(KV_W("Software\\Classes\\")) + kScratch;
    HKEY user = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, userScratch.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &user, nullptr),
              ERROR_SUCCESS);
    m_open.push_back(user);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, user), ERROR_SUCCESS);
    HKEY h = nullptr;
    const LONG created = RegCreateKeyExW(HKEY_CLASSES_ROOT, KV_W("Redirected"), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (created == ERROR_SUCCESS) RegCloseKey(h);
    EXPECT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(created, ERROR_SUCCESS);

    EXPECT_EQ(RegOpenKeyExW(user, KV_W("Redirected"), 0, KEY_READ, &h), ERROR_SUCCESS);
    m_open.push_back(h);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, KV_W("Redirected"), 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND)
        << "the override is taken back";
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, userScratch.c_str()), ERROR_SUCCESS);
}

TEST_F(Registry, RefusesUnknownHandles) {
    HKEY h = nullptr;
    const HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    EXPECT_EQ(RegOpenKeyExW(bogus, KV_W("x"), 0, KEY_READ, &h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);
}

}  // namespace
