#include "platform/ReportFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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

// A new file beside `target`, opened for writing; -1 with `error` set on failure.
int OpenTemporaryBeside(const std::filesystem::path& target, std::string& temporary,
                        std::string& error) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary =
            target.string() + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0) {
                error = SystemError("Cannot write " + target.string());
            }
            return fd;
        }
    }
    error = "Cannot write " + target.string() + ": no free temporary name";
    return -1;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::path target(path);
    if (fs::is_symlink(target, ignored)) {
        target = fs::weakly_canonical(target, ignored);  // the file the link names is replaced
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    fs::create_directories(folder, ignored);
    std::string temporary;
    const int fd = OpenTemporaryBeside(target, temporary, error);
    if (fd < 0) {
        return false;
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);  // a file kept private stays private
    }
    const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
    int failure = written ? 0 : errno;
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlink(temporary.c_str());
        errno = failure;
        error = SystemError("Cannot write " + path);
        return false;
    }
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);  // the rename itself reaches the disk
        ::close(folderFd);
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
