#pragma once

// What registering KvAudioEncoder.dll writes under the classes root that
// registry_view.h reads, from the published identities: the registrar's
// tests and the client of the registered DLL expect the same entries.

#include "tests/com/registry_view.h"
#include "tests/published_ids.h"

#include <gtest/gtest.h>

#include <set>

namespace kvtest {

inline OleString ole(const char* text) { return published::text<OLECHAR>(text); }

inline const OleString kAppIdKey = keyPath({KV_W("AppID"), ole(published::kEncoderAppId.appId)});
inline const OleString kDllAppIdKey = keyPath({KV_W("AppID"), ole(published::kEncoderAppId.appIdModule)});
inline const OleString kEncoderLibText = ole(published::kEncoderLib.libId);

inline OleString classKey(const published::EncoderClass& c) { return keyPath({KV_W("CLSID"), ole(c.clsid)}); }
inline OleString progIdOf(const published::EncoderClass& c) { return ole(c.versionIndependentProgId) + KV_W(".1"); }

inline void expectAppIdEntries() {
    EXPECT_EQ(readString(kAppIdKey), ole(published::kEncoderAppId.appIdName));
    EXPECT_EQ(valueNames(kAppIdKey), std::set<OleString>{KV_W("")});
    EXPECT_TRUE(subkeyNames(kAppIdKey).empty());
    EXPECT_EQ(readString(kDllAppIdKey, KV_W("AppID")), ole(published::kEncoderAppId.appId));
    EXPECT_EQ(valueNames(kDllAppIdKey), std::set<OleString>{KV_W("AppID")});
    EXPECT_TRUE(subkeyNames(kDllAppIdKey).empty());
}

inline void expectClassEntries(const published::EncoderClass& c, const OleString& modulePath) {
    SCOPED_TRACE(c.name);
    const OleString progId = progIdOf(c), versionIndependent = ole(c.versionIndependentProgId);
    const OleString clsid = ole(c.clsid), description = ole(c.description);
    for (const OleString& name : {progId, versionIndependent}) {
        EXPECT_EQ(readString(name), description);
        EXPECT_EQ(valueNames(name), std::set<OleString>{KV_W("")});
        EXPECT_EQ(readString(keyPath({name, KV_W("CLSID")})), clsid);
    }
    EXPECT_EQ(subkeyNames(progId), std::set<OleString>{KV_W("CLSID")});
    EXPECT_EQ(subkeyNames(versionIndependent), (std::set<OleString>{KV_W("CLSID"), KV_W("CurVer")}));
    EXPECT_EQ(readString(keyPath({versionIndependent, KV_W("CurVer")})), progId);

    const OleString key = classKey(c);
    EXPECT_EQ(subkeyNames(KV_W("CLSID")).count(clsid), 1u) << "the class key keeps its spelling";
    EXPECT_EQ(readString(key), description);
    EXPECT_EQ(readString(key, KV_W("AppID")), ole(published::kEncoderAppId.appId));
    EXPECT_EQ(valueNames(key), (std::set<OleString>{KV_W(""), KV_W("AppID")}));
    EXPECT_EQ(subkeyNames(key), (std::set<OleString>{KV_W("ProgID"), KV_W("VersionIndependentProgID"),
                                                     KV_W("Programmable"), KV_W("InprocServer32"), KV_W("TypeLib")}));
    EXPECT_EQ(readString(keyPath({key, KV_W("ProgID")})), progId);
    EXPECT_EQ(readString(keyPath({key, KV_W("VersionIndependentProgID")})), versionIndependent);
    const OleString programmable = keyPath({key, KV_W("Programmable")});
    EXPECT_TRUE(valueNames(programmable).empty());
    EXPECT_TRUE(subkeyNames(programmable).empty());
    const OleString server = keyPath({key, KV_W("InprocServer32")});
    EXPECT_EQ(readString(server), modulePath);
    EXPECT_EQ(readString(server, KV_W("ThreadingModel")), OleString(KV_W("Apartment")));
    EXPECT_EQ(valueNames(server), (std::set<OleString>{KV_W(""), KV_W("ThreadingModel")}));
    EXPECT_TRUE(subkeyNames(server).empty());
    EXPECT_EQ(readString(keyPath({key, KV_W("TypeLib")})), kEncoderLibText);
}

inline void expectNoClassEntries(const published::EncoderClass& c) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(keyExists(progIdOf(c)));
    EXPECT_FALSE(keyExists(ole(c.versionIndependentProgId)));
    EXPECT_FALSE(keyExists(classKey(c)));
}

}  // namespace kvtest
