#include "platform/ReportFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tarnflow {

namespace {

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// A temporary file beside `path`, opened for writing; -1 with `error` set on failure.
int OpenTemporaryBeside(const std::string& path, std::string& temporary, std::string& error) {
    temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = SystemError("Cannot write " + path);
    }
    return fd;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error) {
    std::string temporary;
    const int fd = OpenTemporaryBeside(path, temporary, error);
    if (fd < 0) {
        return false;
    }
    // A report is read by other programs: the usual file permissions, not mkstemp's 0600.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
    int failure = written ? 0 : errno;
    ::close(fd);
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        errno = failure;
        error = SystemError("Cannot write " + path);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool CanWriteFile(const std::string& path, std::string& error) {
    if (path.empty() || IsFolder(path)) {
        error = "Cannot write " + path + ": it is a folder";
        return false;
    }
    std::string temporary;
    const int fd = OpenTemporaryBeside(path, temporary, error);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    ::unlink(temporary.c_str());
    return true;
}

std::string HistoryFilePath() {
    if (const char* named = std::getenv("TARNFLOW_HISTORY")) {
        return named;
    }
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/tarnflow/history.jsonl";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        return "";
    }
    return std::string(home) + "/.local/state/tarnflow/history.jsonl";
}

bool AppendLine(const std::string& path, const std::string& line, std::string& error) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = SystemError("Cannot write the history file " + path);
        return false;
    }
    const std::string whole = line + "\n";
    const ssize_t n = ::write(fd, whole.data(), whole.size());
    const int savedErrno = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(whole.size())) {
        errno = n < 0 ? savedErrno : EIO;
        error = SystemError("Cannot write the history file " + path);
        return false;
    }
    return true;
}

}  // namespace tarnflow
