// Output files of the commands. A command writes under a temporary name beside its target and
// renames it into place only once the file is complete, so that a failed or interrupted run
// leaves neither a partial file nor a changed one: an existing target stays as it was. A target
// that is a link keeps its link, and the file it names is replaced; a device or a pipe is written
// in place.
#pragma once

#include <cstdio>
#include <string>

class OutputFile {
public:
    // Creates the temporary file beside `target`; check ok() and, if false, reason(). The
    // temporary's name ends in `suffix`, for a writer that chooses the extension itself.
    explicit OutputFile(const char* target, const char* suffix = "");
    // Removes the temporary file unless Commit succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool ok() const { return m_stream != nullptr || m_direct; }
    // The target is a device or a pipe, written in place under its own name (path()): nothing
    // is renamed or removed, and what was written cannot be read back.
    bool direct() const { return m_direct; }
    // The system's reason for the last failure, e.g. "No such file or directory".
    const std::string& reason() const { return m_reason; }
    // Where the content goes: Write() it, or close the stream with ReleaseStream() and let
    // another writer fill path().
    const char* path() const { return m_temp.c_str(); }
    void ReleaseStream();
    // Writes to stream(); false, with reason() set, when not all of it was written.
    bool Write(const void* data, std::size_t size);

    // Flushes and closes the stream (if still open) and renames the file onto the target.
    // False, with reason() set, when any of that fails; the temporary is then removed.
    bool Commit();

private:
    std::string m_target;
    std::string m_temp;
    std::FILE* m_stream = nullptr;
    std::string m_reason;
    bool m_committed = false;
    bool m_direct = false;
    unsigned m_mode = 0; // the permissions the file gets when it is renamed into place
};

// `path` with its extension replaced by "bmp", as the library's capture names its BMP files.
std::string WithBmpExtension(const char* path);

// Makes failures of the commands clean: a write past the file-size limit fails with EFBIG
// instead of killing the process, and an interrupt removes the temporary file being written
// before the process ends. Called once by main.
void InstallOutputSignalHandlers();
