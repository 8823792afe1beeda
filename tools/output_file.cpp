// Output files written beside their target and renamed into place when complete.
#include "output_file.h"

#include <windows.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The temporary file being written, for the interrupt handler: one at a time per process.
char g_pendingPath[4096];
volatile std::sig_atomic_t g_pending = 0;

void RemovePendingAndExit(int signal) {
    if (g_pending) {
        unlink(g_pendingPath);
    }
    _exit(128 + signal);
}

} // namespace

void InstallOutputSignalHandlers() {
    std::signal(SIGXFSZ, SIG_IGN);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(s, RemovePendingAndExit);
    }
}

OutputFile::OutputFile(const char* target, const char* suffix)
    : m_target(target != nullptr ? target : "") {
    // An empty name is no file at all, as opening it would say.
    if (m_target.empty()) {
        m_reason = std::strerror(ENOENT);
        return;
    }
    struct stat existing;
    const bool exists = stat(m_target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        m_reason = std::strerror(EISDIR);
        return;
    }
    // A device or a pipe (/dev/null, /dev/stdout on a terminal or a pipe) is written in place:
    // there is no file to replace, and renaming onto it would put a file where it was.
    if (exists && !S_ISREG(existing.st_mode)) {
        if (access(m_target.c_str(), W_OK) != 0) {
            m_reason = std::strerror(errno);
            return;
        }
        m_temp = m_target;
        m_direct = true;
        return;
    }
    // A link stays a link: the file it names, even one still to be made, is what is replaced.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat link;
        char named[PATH_MAX];
        if (lstat(m_target.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            break;
        }
        const ssize_t n = readlink(m_target.c_str(), named, sizeof named);
        if (n <= 0 || std::size_t(n) >= sizeof named) {
            break;
        }
        const std::size_t end = m_target.find_last_of('/');
        m_target = named[0] == '/' || end == std::string::npos
                       ? std::string(named, std::size_t(n))
                       : m_target.substr(0, end + 1) + std::string(named, std::size_t(n));
    }
    const std::size_t slash = m_target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : m_target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    if (name.empty()) {
        m_reason = std::strerror(EISDIR);
        return;
    }
    // The temporary's name is the target's with a dot before and a random part after; a target
    // whose name is as long as a name can be gets a temporary named after its start.
    if (name.size() > NAME_MAX) {
        m_reason = std::strerror(ENAMETOOLONG);
        return;
    }
    const std::size_t added = 1 + 7 + std::strlen(suffix);
    const std::size_t kept = name.size() + added > NAME_MAX ? NAME_MAX - added : name.size();
    std::string pattern = dir + "." + name.substr(0, kept) + ".XXXXXX" + suffix;
    if (pattern.size() >= sizeof g_pendingPath) {
        m_reason = std::strerror(ENAMETOOLONG);
        return;
    }
    const int fd = mkstemps(pattern.data(), int(std::strlen(suffix)));
    if (fd < 0) {
        m_reason = std::strerror(errno);
        return;
    }
    // mkstemp makes the file private to its owner. It gets the mode of the file it replaces, or
    // the mode a new file would have, when it is renamed into place (a writer that fills it by
    // name must still be able to open it for writing until then).
    const mode_t mask = umask(0);
    umask(mask);
    m_mode = exists ? existing.st_mode & 07777 : 0666 & ~mask;
    m_stream = fdopen(fd, "wb");
    if (m_stream == nullptr) {
        m_reason = std::strerror(errno);
        close(fd);
        unlink(pattern.c_str());
        return;
    }
    m_temp = pattern;
    std::memcpy(g_pendingPath, m_temp.c_str(), m_temp.size() + 1);
    g_pending = 1;
}

OutputFile::~OutputFile() {
    if (m_stream != nullptr) {
        std::fclose(m_stream);
    }
    if (m_direct) {
        return;
    }
    if (!m_temp.empty() && !m_committed) {
        unlink(m_temp.c_str());
    }
    if (!m_temp.empty()) {
        g_pending = 0;
    }
}

void OutputFile::ReleaseStream() {
    if (m_stream != nullptr && std::fclose(m_stream) != 0 && m_reason.empty()) {
        m_reason = std::strerror(errno);
    }
    m_stream = nullptr;
}

bool OutputFile::Write(const void* data, std::size_t size) {
    // A device or a pipe is opened at its first write, so that a writer that fills path()
    // itself opens it only once.
    if (m_stream == nullptr && m_direct && !m_committed) {
        m_stream = std::fopen(m_target.c_str(), "wb");
        if (m_stream == nullptr) {
            m_reason = std::strerror(errno);
        }
    }
    if (m_stream == nullptr) {
        return false;
    }
    errno = 0;
    if (std::fwrite(data, 1, size, m_stream) != size) {
        if (m_reason.empty()) {
            m_reason = std::strerror(errno != 0 ? errno : EIO);
        }
        return false;
    }
    return true;
}

bool OutputFile::Commit() {
    if (m_temp.empty()) {
        return false;
    }
    bool ok = m_reason.empty();
    if (m_stream != nullptr) {
        errno = 0;
        // A device or a pipe has nothing to sync.
        const bool flushed =
            std::fflush(m_stream) == 0 && (m_direct || fsync(fileno(m_stream)) == 0);
        const int flushError = errno;
        const bool closed = std::fclose(m_stream) == 0;
        m_stream = nullptr;
        if (ok && !(flushed && closed)) {
            m_reason = std::strerror(flushError != 0 ? flushError : errno);
            ok = false;
        }
    }
    if (m_direct) {
        m_committed = ok;
        return ok;
    }
    if (ok && chmod(m_temp.c_str(), m_mode) != 0) {
        m_reason = std::strerror(errno);
        ok = false;
    }
    if (ok && std::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        m_reason = std::strerror(errno);
        ok = false;
    }
    m_committed = ok;
    if (!ok) {
        unlink(m_temp.c_str());
    }
    g_pending = 0;
    return ok;
}

std::string WithBmpExtension(const char* path) {
    char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    _splitpath(path, drive, dir, fname, ext);
    char out[_MAX_PATH];
    _makepath(out, drive, dir, fname, "bmp");
    return out;
}
