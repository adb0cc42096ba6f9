// win32: copies of the files the build made, next to the test programs:
// bin\kv_test_module.dll (the module's resources) and tlb\KvLib.tlb.
#include "tests/com/module_file.h"

#include <gtest/gtest.h>

namespace kvtest {

namespace {

OleString programFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    OleString s(path, n);
    return s.substr(0, s.rfind(L'\\'));
}

OleString scratchFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, path);
    OleString s(path, n);
    if (!s.empty() && s.back() == L'\\') s.pop_back();
    return s;
}

OleString fullPath(const OleString& path) {
    wchar_t full[MAX_PATH];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return OleString(full, n);
}

}  // namespace

ModuleFile::ModuleFile(Library library, const OleString& folder, const OleString& file)
    : m_folder(scratchFolder() + L"\\" + folder), m_path(m_folder + L"\\" + file) {
    const OleString source = library == Library::KvAudioEncoderLib
                                 ? programFolder() + L"\\kv_test_module.dll"
                                 : fullPath(programFolder() + L"\\..\\tlb\\KvLib.tlb");
    if (!CreateDirectoryW(m_folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        ADD_FAILURE() << "cannot create " << testing::PrintToString(m_folder) << ": error " << GetLastError();
    if (!CopyFileW(source.c_str(), m_path.c_str(), FALSE))
        ADD_FAILURE() << "cannot copy " << testing::PrintToString(source) << ": error " << GetLastError();
    else
        m_present = true;
}

ModuleFile::~ModuleFile() {
    remove();
    RemoveDirectoryW(m_folder.c_str());
}

void ModuleFile::remove() {
    if (m_present && !DeleteFileW(m_path.c_str()))
        ADD_FAILURE() << "cannot delete " << testing::PrintToString(m_path) << ": error " << GetLastError();
    m_present = false;
}

OleString missingModulePath() { return scratchFolder() + L"\\KvTest No Such Folder\\KvAudioEncoder.dll"; }

}  // namespace kvtest
