// Registration of the module, for the machine (HKEY_CLASSES_ROOT) and for the
// user (HKEY_CURRENT_USER\Software\Classes) by the same rules: the entries of
// the AppID and of the four classes, the type library, the order of the steps
// and the first failure, and the thread locale around all of it. On win32
// this writes the real registry of the test prefix, so every test starts and
// ends by removing whatever a module of ours could have left in either root.
#include "com/InprocServer.h"
#include "com/ComPtr.h"
#include "com/WineTypeLibWorkaround.h"
#include "tests/com/module_file.h"
#include "tests/server/registered_entries.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <utility>

using kv::com::registrar::Scope;
using kvtest::OleString;

namespace kvtest {
namespace {

// The scope of the running case; every registration below goes there.
Scope g_scope = Scope::Machine;
HRESULT RegisterServer(const OLECHAR* path) { return kv::com::thisServer().registerServer(path, g_scope); }
HRESULT UnregisterServer(const OLECHAR* path) { return kv::com::thisServer().unregisterServer(path, g_scope); }

using published::kEncoderClasses;
using published::kG711A;
using published::kG711U;

const GUID kLibId = published::guid<GUID>(published::kEncoderLib.libId);
// Another server's entries, which must outlive ours.
const OleString kForeignAppIdKey = KV_W("AppID\\{0F0E0D0C-0B0A-4909-8807-060504030201}");
const OleString kForeignClassKey = KV_W("CLSID\\{0F0E0D0C-0B0A-4909-8807-060504030201}");

OleString typeLibPathKey() {
    return keyPath({KV_W("TypeLib"), kEncoderLibText, KV_W("1.0"), KV_W("409"), kvtest::builtPlatformKey()});
}

void removeEverythingOurs() {
    for (const published::EncoderClass* c : kEncoderClasses) {
        kvtest::deleteTree(progIdOf(*c));
        kvtest::deleteTree(ole(c->versionIndependentProgId));
        kvtest::deleteTree(classKey(*c));
        kvtest::deleteTree(keyPath({KV_W("Interface"), ole(c->classIid)}));
    }
    kvtest::deleteTree(kAppIdKey);
    kvtest::deleteTree(kDllAppIdKey);
    kvtest::deleteTree(keyPath({KV_W("TypeLib"), kEncoderLibText}));
    kvtest::deleteTree(kForeignAppIdKey);
    kvtest::deleteTree(kForeignClassKey);
}

HRESULT loadRegisteredLibrary() {
    kv::com::ComPtr<ITypeLib> library;
    return LoadRegTypeLib(kLibId, 1, 0, 0x0409, library.put());
}

void expectRegistered(const OleString& modulePath) {
    expectAppIdEntries();
    for (const published::EncoderClass* c : kEncoderClasses) expectClassEntries(*c, modulePath);
    EXPECT_EQ(readString(typeLibPathKey()), modulePath);
    if (g_scope == Scope::Machine) {
        EXPECT_EQ(loadRegisteredLibrary(), S_OK);
    }
}

void expectNothingOursLeft() {
    EXPECT_TRUE(keyExists(KV_W("AppID")));
    EXPECT_TRUE(keyExists(KV_W("CLSID")));
    EXPECT_FALSE(keyExists(kAppIdKey));
    EXPECT_FALSE(keyExists(kDllAppIdKey));
    for (const published::EncoderClass* c : kEncoderClasses) expectNoClassEntries(*c);
    EXPECT_FALSE(keyExists(keyPath({KV_W("TypeLib"), kEncoderLibText})));
    EXPECT_EQ(loadRegisteredLibrary(), TYPE_E_LIBNOTREGISTERED);
}

void removeEverythingOursFromBothRoots() {
    removeEverythingOurs();
    kvtest::UserClasses user;
    removeEverythingOurs();
}

class Registrar : public testing::TestWithParam<Scope> {
protected:
    void SetUp() override {
        removeEverythingOursFromBothRoots();
        g_scope = GetParam();
        if (g_scope == Scope::User) {
            m_user.emplace();
            ASSERT_TRUE(m_user->opened());
        }
    }
    void TearDown() override {
        m_user.reset();
        g_scope = Scope::Machine;
        removeEverythingOursFromBothRoots();
    }

private:
    std::optional<kvtest::UserClasses> m_user;
};

INSTANTIATE_TEST_SUITE_P(Scopes, Registrar, testing::Values(Scope::Machine, Scope::User),
                         [](const testing::TestParamInfo<Scope>& scope) {
                             return scope.param == Scope::Machine ? "Machine" : "User";
                         });

// A user's registration leaves the machine's classes alone. Read through
// HKEY_CLASSES_ROOT, which on the host stand-in and under Wine shows the
// machine's classes only (Windows would merge the user's in).
bool machineHasAnyOfOurKeys() {
    for (const OleString& path :
         {kAppIdKey, classKey(kG711A), progIdOf(kG711A), keyPath({KV_W("TypeLib"), kEncoderLibText})}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return true;
        }
    }
    return false;
}

TEST_P(Registrar, WritesEveryEntryAndRemovesThemAgain) {
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvRegistrar"), KV_W("KvAudioEncoder.dll"));
    ASSERT_EQ(RegisterServer(module.c_str()), S_OK);
    expectRegistered(module.path());
    if (g_scope == Scope::User) {
        EXPECT_FALSE(machineHasAnyOfOurKeys());
    }
    ASSERT_EQ(UnregisterServer(module.c_str()), S_OK);
    expectNothingOursLeft();
}

TEST_P(Registrar, UnregistrationKeepsAppIdAndClsidWithOtherServersEntries) {
    ASSERT_TRUE(kvtest::writeString(kForeignAppIdKey, nullptr, KV_W("Other")));
    ASSERT_TRUE(kvtest::writeString(keyPath({kForeignClassKey, KV_W("InprocServer32")}), nullptr, KV_W("other.dll")));
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvRegistrar"), KV_W("KvAudioEncoder.dll"));
    ASSERT_EQ(RegisterServer(module.c_str()), S_OK);
    ASSERT_EQ(UnregisterServer(module.c_str()), S_OK);
    expectNothingOursLeft();
    EXPECT_EQ(readString(kForeignAppIdKey), OleString(KV_W("Other")));
    EXPECT_EQ(readString(keyPath({kForeignClassKey, KV_W("InprocServer32")})), OleString(KV_W("other.dll")));
}

TEST_P(Registrar, RegisteringAgainLeavesOneSetOfEntries) {
    ModuleFile first(Library::KvAudioEncoderLib, KV_W("KvRegistrar First"), KV_W("KvAudioEncoder.dll"));
    ModuleFile second(Library::KvAudioEncoderLib, KV_W("KvRegistrar Second"), KV_W("KvAudioEncoder.dll"));
    ASSERT_EQ(RegisterServer(first.c_str()), S_OK);
    // Leftovers inside the class keys go with them; the ProgID keys are
    // written over.
    for (const published::EncoderClass* c : kEncoderClasses) {
        const OleString key = classKey(*c);
        ASSERT_TRUE(kvtest::writeString(key, KV_W("Stray"), KV_W("x")));
        ASSERT_TRUE(kvtest::writeString(keyPath({key, KV_W("Stray")}), nullptr, KV_W("x")));
        ASSERT_TRUE(kvtest::writeString(keyPath({key, KV_W("Programmable"), KV_W("Stray")}), nullptr, KV_W("x")));
        ASSERT_TRUE(kvtest::writeString(keyPath({key, KV_W("InprocServer32")}), KV_W("Stray"), KV_W("x")));
        ASSERT_TRUE(kvtest::writeString(progIdOf(*c), nullptr, KV_W("old description")));
        ASSERT_TRUE(
            kvtest::writeString(keyPath({ole(c->versionIndependentProgId), KV_W("CurVer")}), nullptr, KV_W("old")));
    }
    ASSERT_EQ(RegisterServer(second.c_str()), S_OK);
    expectRegistered(second.path());
    ASSERT_EQ(UnregisterServer(second.c_str()), S_OK);
    expectNothingOursLeft();
}

TEST_P(Registrar, WritesOddModulePathsVerbatim) {
    const struct {
        const OLECHAR* folder;
        const OLECHAR* file;
    } paths[] = {
        {KV_W("Kv O'Brien's Audio Tools"), KV_W("KvAudioEncoder.dll")},
        {KV_W("Kv %MODULE% %APPID% {43CFE32C} 'quoted'"), KV_W("Kv Audio 'Encoder'.dll")},
        {KV_W("Kv ;=,[]&()!@#$^ + ~ `"), KV_W("a b ' c.dll")},
    };
    for (const auto& p : paths) {
        ModuleFile module(Library::KvAudioEncoderLib, p.folder, p.file);
        SCOPED_TRACE(testing::PrintToString(module.path()));
        ASSERT_EQ(RegisterServer(module.c_str()), S_OK);
        expectRegistered(module.path());
        ASSERT_EQ(UnregisterServer(module.c_str()), S_OK);
        expectNothingOursLeft();
    }
}

// A volatile key may only hold volatile keys, so a volatile ProgID key of the
// second class in object-map order makes that class's script fail.
TEST_P(Registrar, StopsAtTheFirstClassThatFails) {
    HKEY blocker = nullptr;
    ASSERT_EQ(RegCreateKeyExW(kvtest::classesRoot(), progIdOf(kG711U).c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &blocker, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(blocker);
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvRegistrar"), KV_W("KvAudioEncoder.dll"));

    EXPECT_EQ(RegisterServer(module.c_str()), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    expectAppIdEntries();
    expectClassEntries(kG711A, module.path());
    EXPECT_FALSE(keyExists(classKey(kG711U)));
    for (const published::EncoderClass* c : {&published::kG7231, &published::kQuorvan}) expectNoClassEntries(*c);
    EXPECT_FALSE(keyExists(keyPath({KV_W("TypeLib"), kEncoderLibText}))) << "the type library comes after the classes";
}

TEST_P(Registrar, TypeLibraryFailuresComeAfterTheScriptsAndKeepTheAppId) {
    const OleString noModule = kvtest::missingModulePath();
    EXPECT_EQ(RegisterServer(noModule.c_str()), TYPE_E_CANTLOADLIBRARY);
    expectAppIdEntries();
    for (const published::EncoderClass* c : kEncoderClasses) expectClassEntries(*c, noModule);

    // Unregistration removes the classes, then fails on the library and so
    // leaves the AppID alone.
    EXPECT_EQ(UnregisterServer(noModule.c_str()), TYPE_E_CANTLOADLIBRARY);
    for (const published::EncoderClass* c : kEncoderClasses) expectNoClassEntries(*c);
    expectAppIdEntries();

    // The same when the module is there but its library was never registered.
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvRegistrar"), KV_W("KvAudioEncoder.dll"));
    EXPECT_TRUE(FAILED(UnregisterServer(module.c_str())));
    expectAppIdEntries();
}

TEST_P(Registrar, RefusesANullModulePath) {
    EXPECT_EQ(RegisterServer(nullptr), E_POINTER);
    EXPECT_EQ(UnregisterServer(nullptr), E_POINTER);
    EXPECT_FALSE(keyExists(kAppIdKey));
}

TEST_P(Registrar, GivesTheCallerItsThreadLocaleBackOnEveryPath) {
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvRegistrar"), KV_W("KvAudioEncoder.dll"));
    const OleString noModule = kvtest::missingModulePath();
    auto blockG711U = [] {
        HKEY k = nullptr;
        RegCreateKeyExW(kvtest::classesRoot(), progIdOf(kG711U).c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &k, nullptr);
        RegCloseKey(k);
    };
    const struct {
        const char* name;
        std::function<void()> before;
        std::function<HRESULT()> call;
        bool succeeds;
    } cases[] = {
        {"registration", [] {}, [&] { return RegisterServer(module.c_str()); }, true},
        {"unregistration", [&] { RegisterServer(module.c_str()); }, [&] { return UnregisterServer(module.c_str()); },
         true},
        {"registration failing in a class", blockG711U, [&] { return RegisterServer(module.c_str()); }, false},
        {"registration failing at the library", [] {}, [&] { return RegisterServer(noModule.c_str()); }, false},
        {"unregistration of nothing", [] {}, [&] { return UnregisterServer(module.c_str()); }, false},
        {"null path", [] {}, [] { return RegisterServer(nullptr); }, false},
    };
    const LCID original = GetThreadLocale();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        removeEverythingOurs();
        c.before();
        for (LCID callers : {LCID{0x0407}, LCID{0x0411}}) {
            ASSERT_TRUE(SetThreadLocale(callers));
            EXPECT_EQ(SUCCEEDED(c.call()), c.succeeds);
            EXPECT_EQ(GetThreadLocale(), callers);
            if (c.succeeds) break;  // the second call would be another case
        }
    }
    SetThreadLocale(original);
}

// What the registrar does around a per-user registration under Wine, on its
// own: the machine's Interface keys of the library, in both registry views,
// come back as they were.
TEST(WineTypeLibWorkaround, PutsTheMachinesInterfaceKeysOfTheLibraryBack) {
    ModuleFile module(Library::KvAudioEncoderLib, KV_W("KvKept"), KV_W("KvAudioEncoder.dll"));
    kv::com::ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(module.c_str(), REGKIND_NONE, library.put()), S_OK);
    const OleString removed = KV_W("Interface\\{0F0E0D0C-0B0A-4909-8807-060504030202}");
    const OleString added = KV_W("Interface\\{0F0E0D0C-0B0A-4909-8807-060504030203}");
    const auto inBothMachineViews = [](const std::function<void()>& body) {
        for (const REGSAM view : {REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) {
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, KV_W("Software\\Classes"), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS | view, nullptr, &kvtest::classesRoot(), nullptr);
            body();
            RegCloseKey(std::exchange(kvtest::classesRoot(), HKEY_CLASSES_ROOT));
        }
    };
    inBothMachineViews([&] { kvtest::writeString(keyPath({removed, KV_W("TypeLib")}), nullptr, kEncoderLibText); });
    {
        kv::com::wine::MachineInterfacesKept machine(library.get(), kLibId);
        inBothMachineViews([&] {
            kvtest::deleteTree(removed);
            kvtest::writeString(keyPath({added, KV_W("TypeLib")}), nullptr, kEncoderLibText);
        });
    }
    inBothMachineViews([&] {
        EXPECT_EQ(readString(keyPath({removed, KV_W("TypeLib")})), kEncoderLibText);
        EXPECT_FALSE(keyExists(added));
    });
    inBothMachineViews([&] { kvtest::deleteTree(removed); });
}

}  // namespace
}  // namespace kvtest

TEST(RegistrarCommandLine, ChoosesTheScopeOrRefuses) {
    const struct {
        const OLECHAR* commandLine;
        bool understood;
        Scope scope;
    } cases[] = {
        {nullptr, true, Scope::Machine},   {KV_W(""), true, Scope::Machine},  {KV_W("user"), true, Scope::User},
        {KV_W("USER"), true, Scope::User}, {KV_W("uSeR"), true, Scope::User}, {KV_W("use"), false, {}},
        {KV_W("users"), false, {}},        {KV_W(" user"), false, {}},        {KV_W("machine"), false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.commandLine ? OleString(c.commandLine) : OleString(KV_W("(null)"))));
        Scope scope = c.understood ? (c.scope == Scope::User ? Scope::Machine : Scope::User) : Scope::Machine;
        EXPECT_EQ(kv::com::registrar::scopeFromCommandLine(c.commandLine, scope), c.understood);
        if (c.understood) {
            EXPECT_EQ(scope, c.scope);
        }
    }
}
