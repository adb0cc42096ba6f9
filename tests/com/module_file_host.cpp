// Host: no file carries resources, so a module file is a path whose type
// library the stand-in is told about, with the attributes widl gives the
// built libraries (the win32 tests read the same attributes from the files).
#include "tests/com/module_file.h"
#include "tests/published_ids.h"

namespace kvtest {

ModuleFile::ModuleFile(Library library, const OleString& folder, const OleString& file)
    : m_folder(u"C:\\KvTest\\" + folder), m_path(m_folder + u"\\" + file), m_present(true) {
    const published::TypeLibrary& lib =
        library == Library::KvAudioEncoderLib ? published::kEncoderLib : published::kKvLib;
    const TLIBATTR attributes = {published::guid<GUID>(lib.libId), lib.lcid, SYS_WIN32, 1, 0, LIBFLAG_FHASDISKIMAGE};
    kv::host::setModuleTypeLib(m_path.c_str(), attributes, published::text<OLECHAR>(lib.libName).c_str(),
                               published::text<OLECHAR>(lib.libHelp).c_str());
}

ModuleFile::~ModuleFile() { remove(); }

void ModuleFile::remove() {
    if (m_present) kv::host::forgetModuleTypeLib(m_path.c_str());
    m_present = false;
}

OleString missingModulePath() { return u"C:\\KvTest\\No Such Folder\\KvAudioEncoder.dll"; }

}  // namespace kvtest
