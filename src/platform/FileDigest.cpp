#include "platform/FileDigest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace tarnflow {

namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string Hex(const unsigned char* bytes, unsigned length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned k = 0; k < length; ++k) {
        hex += kDigits[bytes[k] >> 4];
        hex += kDigits[bytes[k] & 0x0F];
    }
    return hex;
}

std::optional<std::string> Finish(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1) {
        return std::nullopt;
    }
    return Hex(digest, length);
}

}  // namespace

std::string Sha256Hex(const uint8_t* bytes, size_t length) {
    DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes, length) != 1) {
        return "";
    }
    return Finish(context.get()).value_or("");
}

FileDigest DigestFile(const std::string& path) {
    FileDigest result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return result;
    }
    struct stat info {};
    DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && context &&
              EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    if (ok) {
        result.size = static_cast<uint64_t>(info.st_size);
        std::vector<uint8_t> chunk(1 << 16);
        for (;;) {
            const ssize_t got = ::read(fd, chunk.data(), chunk.size());
            if (got == 0) {
                break;
            }
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0 || EVP_DigestUpdate(context.get(), chunk.data(), got) != 1) {
                ok = false;
                break;
            }
        }
    }
    ::close(fd);
    if (ok) {
        result.sha256 = Finish(context.get());
    }
    return result;
}

}  // namespace tarnflow
