#include "archive/file_digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/file_util.h"

std::optional<FileDigest> DigestFile(std::string_view path) {
    // O_NONBLOCK: a FIFO at the path fails below instead of waiting for a writer.
    const int fd = ::open(ToOsPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return std::nullopt;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    FileDigest digest;
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    // One buffer per thread: a fresh large one per file would be mapped and unmapped every time.
    thread_local std::vector<unsigned char> buffer(1024 * 1024);
    while (ok) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        const std::string_view piece(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
        if (digest.head.size() < FileDigest::kEdgeBytes)
            digest.head += piece.substr(0, FileDigest::kEdgeBytes - digest.head.size());
        if (piece.size() >= FileDigest::kEdgeBytes) {
            digest.tail.assign(piece.substr(piece.size() - FileDigest::kEdgeBytes));
        } else {
            digest.tail += piece;
            if (digest.tail.size() > FileDigest::kEdgeBytes)
                digest.tail.erase(0, digest.tail.size() - FileDigest::kEdgeBytes);
        }
        digest.bytes += n;
        ok = EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n)) == 1;
    }
    const int error = errno;
    ::close(fd);
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), hash, &length) != 1) {
        errno = error ? error : EIO;
        return std::nullopt;
    }
    static const char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < length; ++i) {
        digest.sha256 += kHex[hash[i] >> 4];
        digest.sha256 += kHex[hash[i] & 15];
    }
    return digest;
}
