#pragma once

// The output file of the file sink and the WAVE file target: written as a new
// file beside its target, and put in the target's place at close (also when
// its owner goes while it is open), so that until then, and when anything
// fails, the target stays as it was.

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "components/Components.h"

namespace kv::components {

class ReplacingFile {
public:
    ReplacingFile() = default;
    ~ReplacingFile() { close(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Starts a new file for `path`, which it follows through symbolic links.
    // E_KV_PATH_NOT_FOUND when the folder does not exist; E_ACCESSDENIED for
    // a folder or anything else that is not a plain file, for a file that
    // cannot be written or replaced, and for a folder that cannot be written;
    // E_UNEXPECTED when a file is open already.
    HRESULT open(const std::filesystem::path& path);
    // Appends; a failed write is sticky, and the new file is then dropped at
    // close. E_UNEXPECTED when no file is open.
    HRESULT write(const void* data, std::size_t bytes);
    // Writes over what was written at `offset`, and goes on at the end.
    HRESULT writeAt(std::uint64_t offset, const void* data, std::size_t bytes);
    // Flushes, closes and puts the file in place; the first failure of any
    // write, of the close or of putting it in place, else S_OK. After a
    // failure the new file is gone and the target is as it was. Closing
    // when not open is S_FALSE.
    HRESULT close();

    bool isOpen() const { return m_file.is_open(); }
    // S_OK while every write (and the last close) has succeeded, else the
    // failure (E_KV_WRITE_FAULT for a write).
    HRESULT status() const { return m_status; }

    // The scripting side of open and close: a null or empty path is no path,
    // closing with no file open is E_KV_NOT_OPEN, and every failure is
    // described (with the path, its end kept when long) for `source`.
    HRESULT openDescribed(BSTR path, const OLECHAR* source, REFIID iid);
    HRESULT closeDescribed(const OLECHAR* source, REFIID iid);

private:
    HRESULT failed(HRESULT hr, const char* why) {
        m_why = why;
        return hr;
    }

    std::ofstream m_file;
    HRESULT m_status = S_OK;
    std::filesystem::path m_target;  // what the file replaces at close
    std::filesystem::path m_temp;    // the file being written
    OleString m_path;                // as the caller gave it, for messages
    const char* m_why = "";          // the last failure of open or close, for messages
};

// Whether an open file sink or WAVE file target of this process will replace
// `input` at its close: by the file's identity, so another spelling, a hard
// link or a symbolic link to a target counts. A file that does not exist is
// replaced by nothing. Any thread may ask.
bool replacedByOpenFileSink(const std::filesystem::path& input);

inline constexpr HRESULT E_KV_WRITE_FAULT = makeError(0x8003001D);  // STG_E_WRITEFAULT

}  // namespace kv::components
