// Host: no file carries resources, so a module file is a path whose type
// library the stand-in is told about, with the attributes widl gives the
// built libraries (the win32 tests read the same attributes from the files).
#include "tests/com/module_file.h"

namespace kvtest {

namespace {
constexpr GUID kKvAudioEncoderLib = {0x43CFE32C, 0xE2DD, 0x487D, {0x8A, 0x1C, 0x68, 0x88, 0xF6, 0x19, 0x98, 0xD9}};
constexpr GUID kKvLib = {0x575AA7B5, 0xE1A9, 0x414D, {0x8E, 0xF9, 0xAA, 0xE3, 0x17, 0xE1, 0x0B, 0x10}};
}  // namespace

ModuleFile::ModuleFile(Library library, const OleString& folder, const OleString& file)
    : m_folder(u"C:\\KvTest\\" + folder), m_path(m_folder + u"\\" + file), m_present(true) {
    if (library == Library::KvAudioEncoderLib)
        kv::host::setModuleTypeLib(m_path.c_str(), {kKvAudioEncoderLib, 0x0409, SYS_WIN32, 1, 0, LIBFLAG_FHASDISKIMAGE},
                                   u"KvAudioEncoderLib", u"KvAudioEncoder 1.0 Type Library");
    else
        kv::host::setModuleTypeLib(m_path.c_str(), {kKvLib, 0, SYS_WIN32, 1, 0, LIBFLAG_FHASDISKIMAGE}, u"KvLib",
                                   u"KvLib 1.0 Type Library");
}

ModuleFile::~ModuleFile() { remove(); }

void ModuleFile::remove() {
    if (m_present) kv::host::forgetModuleTypeLib(m_path.c_str());
    m_present = false;
}

OleString missingModulePath() { return u"C:\\KvTest\\No Such Folder\\KvAudioEncoder.dll"; }

}  // namespace kvtest
