#include "engine/DloadFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "comm/Checksums.h"
#include "platform/Trace.h"

namespace tarnflow {

namespace {

constexpr std::array<uint8_t, kBlockSize> MakeRetryPacketArea() {
    std::array<uint8_t, kBlockSize> area{};
    for (size_t i = 0; i < kRetrySignature.size(); ++i) {
        area[i] = kRetrySignature[i];
    }
    return area;
}

// Built at compile time, so every object sees the same bytes without anyone writing them.
constexpr std::array<uint8_t, kBlockSize> kRetryPacketArea = MakeRetryPacketArea();
constexpr BlockRecord kRetryPacket{0, 0, kBlockSize, kRetryPacketArea.data()};

// Phone Code trailer, as distances from the end of the file.
constexpr uint32_t kTailMarkerFromEnd = 37;
constexpr uint32_t kSwVersionFromEnd = 20;
constexpr uint32_t kStartAddressFromEnd = 16;
constexpr uint8_t kTailMarker[] = {0xFF, 0x1D, 0x00};

constexpr const char* kDamagedText = "This is a damaged file,replace this file with a good one";
constexpr const char* kSwVersionText = "FILE의 s/w 버젼이 올바르지 않습니다.";
constexpr const char* kCheckFileText = "\n Please Check bin_file !";

std::string ReadFailText(const std::string& path) {
    return " Fail to read from " + path + kCheckFileText;
}

std::string InfoFailText(const std::string& path) {
    return " Fail to get file info from " + path + kCheckFileText;
}

// The length the image takes in memory: images other than Phone Code fill whole blocks.
uint64_t LoadedLength(uint64_t fileLength, int kind) {
    if (kind == KIND_CODE_NEW || kind == KIND_CODE_OLD || fileLength % kBlockSize == 0) {
        return fileLength;
    }
    return fileLength + (kBlockSize - fileLength % kBlockSize);
}

// The one rule on a file's status, for the loader and for the check before it: only regular
// files have a length to load, and sizes are 32-bit throughout the download.
std::string StatusProblem(const std::string& path, const struct stat& info, int kind) {
    const bool loadable =
        S_ISREG(info.st_mode) && LoadedLength(static_cast<uint64_t>(info.st_size), kind) <=
                                     std::numeric_limits<uint32_t>::max();
    return loadable ? std::string() : ReadFailText(path);
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

  private:
    int fd_;
};

// Reads until `length` bytes are in or the file ends or fails; returns the count read.
uint64_t ReadFully(int fd, uint8_t* destination, uint64_t length) {
    constexpr uint64_t kChunk = 1u << 30;
    uint64_t done = 0;
    while (done < length) {
        const uint64_t want = length - done < kChunk ? length - done : kChunk;
        const ssize_t got = ::read(fd, destination + done, static_cast<size_t>(want));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<uint64_t>(got);
    }
    return done;
}

}  // namespace

std::string ImageFileProblem(const std::string& path, int kind) {
    struct stat info {};
    // Where the loader's open fails (no such file, no read access) it reports a failed read.
    if (::stat(path.c_str(), &info) != 0) {
        return ReadFailText(path);
    }
    const std::string problem = StatusProblem(path, info, kind);
    if (!problem.empty()) {
        return problem;
    }
    return ::faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0 ? std::string()
                                                                      : ReadFailText(path);
}

CDloadFile::CDloadFile(IOwnerWindow* host) : host_(host) {
    Reset();
}

CDloadFile::~CDloadFile() {
    Unload();
}

const BlockRecord& CDloadFile::GetRetryPacket() {
    return kRetryPacket;
}

bool CDloadFile::IsValidStartAddress(uint32_t address) {
    return address % 0x1000 == 0 && (address == 0 || address >= 0x4000);
}

void CDloadFile::Reset() {
    buffer_.reset();
    size_ = 0;
    blockCrcs_.clear();
}

void CDloadFile::Unload() {
    // Size and check values go with the buffer, so that nothing hands out blocks of a released
    // image.
    Reset();
    Trace("File Unload Completed\n");
}

bool CDloadFile::Load(const std::string& path, ImageKind kind) {
    Reset();
    path_ = path;
    if (!ReadImage(kind)) {
        return false;
    }
    if (kind != KIND_CODE_NEW) {
        return true;
    }
    if (!CheckTailMarker() || !CheckSwVersion() || !CheckStartAddress()) {
        Unload();
        return false;
    }
    return true;
}

bool CDloadFile::ReadImage(ImageKind kind) {
    // Opened read-only; Linux has no share mode that keeps writers out while the file is read.
    // O_NONBLOCK only keeps a FIFO from stalling the open; it is refused below.
    FileDescriptor file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0) {
        ShowBox(ReadFailText(path_), MessageBoxStyle::Information);
        return false;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        file.Close();
        ShowBox(InfoFailText(path_), MessageBoxStyle::Information);
        return false;
    }
    const std::string problem = StatusProblem(path_, info, kind);
    if (!problem.empty()) {
        file.Close();
        ShowBox(problem, MessageBoxStyle::Information);
        return false;
    }
    const uint64_t fileLength = static_cast<uint64_t>(info.st_size);
    const uint64_t length = LoadedLength(fileLength, kind);
    if (length > 0) {
        buffer_.reset(new (std::nothrow) uint8_t[length]);
        if (!buffer_) {
            file.Close();
            ShowBox(ReadFailText(path_), MessageBoxStyle::Information);
            return false;
        }
        // Everything not read from the file (the padding, or what a short read misses) is 0xFF.
        std::memset(buffer_.get(), 0xFF, length);
        ReadFully(file.Get(), buffer_.get(), fileLength);
    }
    size_ = static_cast<uint32_t>(length);
    file.Close();

    ComputeBlockCrcs();
    WarnRetryPatterns();
    Trace("File Load Completed\n");
    return true;
}

void CDloadFile::ComputeBlockCrcs() {
    const uint32_t wholeBlocks = size_ / kBlockSize;
    blockCrcs_.reserve(wholeBlocks);
    for (uint32_t i = 0; i < wholeBlocks; ++i) {
        blockCrcs_.push_back(
            BlockCheckValue(buffer_.get() + static_cast<size_t>(i) * kBlockSize, kBlockSize));
    }
}

void CDloadFile::WarnRetryPatterns() {
    const uint32_t wholeBlocks = size_ / kBlockSize;
    for (uint32_t i = 0; i < wholeBlocks; ++i) {
        const uint8_t* block = buffer_.get() + static_cast<size_t>(i) * kBlockSize;
        if (std::memcmp(block, kRetrySignature.data(), kRetrySignature.size()) == 0) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "This binary data is the same pattern as Retry Packet.(%d)",
                          static_cast<int>(i));
            ShowBox(text, MessageBoxStyle::Ok);
        }
    }
}

bool CDloadFile::CheckTailMarker() {
    // A file too short for the trailer cannot carry a marker.
    if (size_ < kTailMarkerFromEnd || std::memcmp(buffer_.get() + (size_ - kTailMarkerFromEnd),
                                                  kTailMarker, sizeof kTailMarker) != 0) {
        ShowBox(kDamagedText, MessageBoxStyle::Ok);
        return false;
    }
    return true;
}

bool CDloadFile::CheckSwVersion() {
    if (ReadLe32(size_ - kSwVersionFromEnd) == 0xFFFFFFFFu) {
        ShowBox(kSwVersionText, MessageBoxStyle::Ok);
        return false;
    }
    return true;
}

bool CDloadFile::CheckStartAddress() {
    const uint32_t address = ReadLe32(size_ - kStartAddressFromEnd);
    if (!IsValidStartAddress(address)) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "Application 다운로딩 시작 주소가 0x%lX 입니다."
                      "\n다운로딩이 실패할 수 있습니다."
                      "\n계속 다운로딩 하시겠습니가?",
                      static_cast<unsigned long>(address));
        if (ShowBox(text, MessageBoxStyle::YesNoExclamationModal) != IDYES) {
            return false;
        }
    }
    startAddress_ = address;
    return true;
}

uint32_t CDloadFile::ReadLe32(uint32_t offset) const {
    const uint8_t* p = buffer_.get() + offset;
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool CDloadFile::GetBlock(uint32_t base, uint32_t index, BlockRecord& record) const {
    // Computed in 64 bits so that a large index cannot wrap around into the image.
    const uint64_t address =
        static_cast<uint64_t>(base) + static_cast<uint64_t>(index) * kBlockSize;
    record.address = static_cast<uint32_t>(address);
    if (address + kBlockSize > size_) {
        Trace("Write하려는 address가 File Size보다 큽니다.\n");
        record.data = nullptr;
        record.length = 0;
        return false;
    }
    record.data = buffer_.get() + address;
    record.length = kBlockSize;
    return true;
}

uint16_t CDloadFile::GetBlockCrc(uint32_t base, uint32_t index) const {
    // (base + index * 1024) / 1024 without the 32-bit sum.
    const uint64_t block = base / kBlockSize + static_cast<uint64_t>(index);
    return block < blockCrcs_.size() ? blockCrcs_[block] : 0;
}

int CDloadFile::ShowBox(const std::string& text, MessageBoxStyle style) {
    if (host_ != nullptr) {
        return host_->MessageBox(text, style);
    }
    Trace(text + "\n");
    const bool question =
        style == MessageBoxStyle::YesNo || style == MessageBoxStyle::YesNoExclamationModal;
    return question ? IDNO : IDOK;
}

}  // namespace tarnflow
