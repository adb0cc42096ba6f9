#pragma once

// A file that carries a type library, for the tests of type-library
// registration: the encoder module's resources (KvAudioEncoderLib) or the
// KvLib type library. On win32 it is a real copy of the built file; on host,
// where no file carries resources, a path the stand-in is told about.

#include "platform/win32.h"

#include <string>

namespace kvtest {

using OleString = std::basic_string<OLECHAR>;

enum class Library { KvAudioEncoderLib, KvLib };

class ModuleFile {
public:
    // Placed as <scratch folder>\<folder>\<file>; both names may hold spaces,
    // apostrophes and anything else a Windows file name may hold.
    ModuleFile(Library library, const OleString& folder, const OleString& file);
    ~ModuleFile();
    ModuleFile(const ModuleFile&) = delete;
    ModuleFile& operator=(const ModuleFile&) = delete;

    const OleString& path() const { return m_path; }
    const OLECHAR* c_str() const { return m_path.c_str(); }

    // The file goes away; the path stays known.
    void remove();

private:
    OleString m_folder;
    OleString m_path;
    bool m_present = false;
};

// The kind of the type libraries this build makes: 64-bit ones in a 64-bit
// Windows build; the host stand-in's libraries are 32-bit.
constexpr SYSKIND kBuiltSysKind = KV_PLATFORM_WIN32 && sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
inline OleString builtPlatformKey() { return kBuiltSysKind == SYS_WIN64 ? KV_W("win64") : KV_W("win32"); }

// A path where no file is.
OleString missingModulePath();

}  // namespace kvtest
