#include "jobs/picture_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "catalogue/zorbi_service.h"
#include "output/link_format.h"
#include "output/picture_files.h"
#include "platform/file_util.h"

namespace {

constexpr mode_t kPictureMode = 0644;

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::lstat(ToOsPath(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

ssize_t ReadAt(int fd, char* buffer, std::uint64_t size, std::uint64_t offset) {
    ssize_t got;
    do {
        got = ::pread(fd, buffer, static_cast<size_t>(size), static_cast<off_t>(offset));
    } while (got < 0 && errno == EINTR);
    return got;
}

const char* WriteFailure(int error) {
    return error == ENOSPC || error == EDQUOT ? PictureReason::kDiskFull : PictureReason::kCannotWrite;
}

// Tabs and line breaks would break the line's fields; GBK never uses bytes below 0x40 as a second
// byte, so replacing them cannot cut a character.
std::string FailedListField(std::string_view text) {
    std::string field(text);
    for (char& c : field) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return field;
}

}  // namespace

std::string HttpStatusReason(long status) {
    return "HTTP " + std::to_string(status);
}

ImageFormat ImageFormatOf(std::string_view firstBytes) {
    using namespace std::string_view_literals;
    if (StartsWith(firstBytes, "\xFF\xD8\xFF"sv)) return ImageFormat::Jpeg;
    if (StartsWith(firstBytes, "\x89PNG\r\n\x1A\n"sv)) return ImageFormat::Png;
    if (StartsWith(firstBytes, "GIF87a"sv) || StartsWith(firstBytes, "GIF89a"sv)) return ImageFormat::Gif;
    if (firstBytes.size() >= 12 && StartsWith(firstBytes, "RIFF"sv) && firstBytes.substr(8, 4) == "WEBP"sv)
        return ImageFormat::WebP;
    return ImageFormat::None;
}

bool ImageEndsWhole(std::string_view firstBytes, std::string_view lastBytes, std::uint64_t size) {
    using namespace std::string_view_literals;
    switch (ImageFormatOf(firstBytes)) {
        case ImageFormat::Jpeg:
            // Strictly at the end: a cut body ends with FF D9 only by chance.
            return lastBytes.ends_with("\xFF\xD9"sv);
        case ImageFormat::Png:
            return lastBytes.ends_with("\0\0\0\0IEND\xAE\x42\x60\x82"sv);
        case ImageFormat::Gif:
            return lastBytes.ends_with('\x3B');
        case ImageFormat::WebP: {
            const auto byte = [&](size_t i) {
                return std::uint64_t{static_cast<unsigned char>(firstBytes[i])};
            };
            return byte(4) + (byte(5) << 8) + (byte(6) << 16) + (byte(7) << 24) + 8 == size;
        }
        case ImageFormat::None:
            break;
    }
    return false;
}

std::string PictureCheck(std::string_view firstBytes, std::string_view lastBytes, std::uint64_t size,
                         std::optional<std::uint64_t> wholeSize) {
    if (size > kMaxPictureBytes) return PictureReason::kTooLarge;
    if (wholeSize && size < *wholeSize) return PictureReason::kIncomplete;
    if (wholeSize && size > *wholeSize) return PictureReason::kSizeMismatch;
    if (size == 0) return PictureReason::kEmpty;
    if (ImageFormatOf(firstBytes.substr(0, size)) == ImageFormat::None) return PictureReason::kNotAnImage;
    if (!ImageEndsWhole(firstBytes, lastBytes, size)) return PictureReason::kIncomplete;
    return "";
}

std::string PicturesFolder(std::string_view userFolder) {
    return JoinPath(userFolder, "pictures");
}

void RemoveStalePictureFiles(std::string_view userFolder) {
    const std::string folder = PicturesFolder(userFolder);
    RemoveStaleTemporaryFiles(folder);
    for (int size = 0; size < SizeCount; ++size)
        RemoveStaleTemporaryFiles(JoinPath(folder, PictureFolderName(size)));
}

std::string PicturePath(std::string_view userFolder, std::string_view photoId, int sizeIndex) {
    const std::string relative = RelativePicturePath(photoId, sizeIndex, kPathSeparator);
    return relative.empty() ? relative : JoinPath(userFolder, relative);
}

PictureStore::PictureStore(std::string_view userFolder, std::string_view photoId, int sizeIndex)
    : path_(PicturePath(userFolder, photoId, sizeIndex)), partPath_(path_.empty() ? "" : path_ + ".part") {}

PictureStore::~PictureStore() {
    CloseFile();
}

void PictureStore::CloseFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool PictureStore::Fail(std::string reason, bool removePart) {
    CloseFile();
    if (removePart && usable()) ::unlink(ToOsPath(partPath_).c_str());
    if (state_ != State::Failed) reason_ = std::move(reason);
    state_ = State::Failed;
    return false;
}

bool PictureStore::AlreadyPresent() const {
    return usable() && IsRegularFile(path_);
}

std::uint64_t PictureStore::ResumeFrom() {
    rangeStart_ = 0;
    struct stat info {};
    // A .part at the limit can only grow past it: better fetched whole.
    if (usable() && ::lstat(ToOsPath(partPath_).c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) < kMaxPictureBytes) {
        rangeStart_ = static_cast<std::uint64_t>(info.st_size);
    }
    return rangeStart_;
}

bool PictureStore::Begin(const AnswerHead& head) {
    if (state_ != State::Idle) return false;  // one answer per object
    if (!usable()) return Fail(PictureReason::kBadId, false);
    // 416: the server's picture ends before the .part does, so the .part belongs to no picture.
    if (head.status != 200 && head.status != 206)
        return Fail(HttpStatusReason(head.status), head.status == 416);
    const bool ranged = head.status == 206;
    const std::uint64_t start = ranged ? static_cast<std::uint64_t>(std::max(0LL, head.rangeStart)) : 0;
    if (start != 0 && start != rangeStart_) return Fail(PictureReason::kBadRange, true);
    std::optional<std::uint64_t> whole;
    if (ranged && head.rangeTotal >= 0) whole = static_cast<std::uint64_t>(head.rangeTotal);
    if (!ranged && head.contentLength >= 0) whole = static_cast<std::uint64_t>(head.contentLength);
    const std::uint64_t length = head.contentLength >= 0 ? static_cast<std::uint64_t>(head.contentLength) : 0;
    if ((whole && *whole > kMaxPictureBytes) || length > kMaxPictureBytes - start)
        return Fail(PictureReason::kTooLarge, true);
    const std::string folder = path_.substr(0, path_.rfind(kPathSeparator));
    if (!MakeDirectories(folder)) return Fail(PictureReason::kCannotCreate, false);

    const std::string part = ToOsPath(partPath_);
    // O_NOFOLLOW: a link at the .part is never written through. O_NONBLOCK: a FIFO there fails at
    // once instead of waiting for a reader.
    const int common = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    if (start == 0) {
        // Starting over makes a fresh file, so its mode never comes from the old .part.
        if (::unlink(part.c_str()) != 0 && errno != ENOENT) return Fail(PictureReason::kCannotCreate, false);
        fd_ = ::open(part.c_str(), common | O_CREAT | O_EXCL, kPictureMode);
    } else {
        fd_ = ::open(part.c_str(), common | O_APPEND, kPictureMode);
    }
    if (fd_ < 0) return Fail(PictureReason::kCannotCreate, false);
    struct stat info {};
    // One link only: appending to a hard link would change another file too.
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1)
        return Fail(PictureReason::kCannotCreate, false);
    if (static_cast<std::uint64_t>(info.st_size) != start) return Fail(PictureReason::kBadRange, true);
    // An old .part may carry bits a new file would not get; never more than a new file's.
    if ((info.st_mode & 07777) & ~kPictureMode) ::fchmod(fd_, info.st_mode & kPictureMode);

    state_ = State::Receiving;
    startOffset_ = start;
    received_ = 0;
    wholeSize_ = whole;
    unprovable_ = ranged && !whole;
    return true;
}

bool PictureStore::Append(std::string_view bytes) {
    if (state_ != State::Receiving) return false;
    if (startOffset_ + received_ + bytes.size() > kMaxPictureBytes)
        return Fail(PictureReason::kTooLarge, true);
    if (!WriteAll(fd_, bytes)) return Fail(WriteFailure(errno), false);
    received_ += bytes.size();
    return true;
}

bool PictureStore::Finish() {
    if (state_ == State::Stored) return true;
    if (state_ == State::Failed) return false;
    if (state_ != State::Receiving) return Fail(PictureReason::kTransferFailed, false);

    // The check reads the file itself: what gets renamed is what is on the disk.
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return Fail(PictureReason::kCannotWrite, false);
    const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    char head[kImageSignatureBytes];
    char tail[kImageTailBytes];
    const std::uint64_t tailSize = std::min<std::uint64_t>(size, sizeof tail);
    const ssize_t headSize = ReadAt(fd_, head, sizeof head, 0);
    if (headSize < 0 || ReadAt(fd_, tail, tailSize, size - tailSize) != static_cast<ssize_t>(tailSize))
        return Fail(PictureReason::kCannotWrite, false);
    std::string failure =
        PictureCheck(std::string_view(head, static_cast<size_t>(headSize)),
                     std::string_view(tail, static_cast<size_t>(tailSize)), size, wholeSize_);
    if (failure.empty() && unprovable_) failure = PictureReason::kIncomplete;
    // Only a body short of the size announced, or of none, may be continued by a later range.
    const bool mayContinue = failure == PictureReason::kIncomplete && (!wholeSize_ || size < *wholeSize_);
    if (!failure.empty()) return Fail(failure, !mayContinue);

    if (::fsync(fd_) != 0) return Fail(WriteFailure(errno), false);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) return Fail(WriteFailure(errno), false);
    // rename replaces a link at the final name, never the file it points to.
    if (::rename(ToOsPath(partPath_).c_str(), ToOsPath(path_).c_str()) != 0)
        return Fail(PictureReason::kCannotRename, false);
    state_ = State::Stored;
    return true;
}

void PictureStore::Abandon(std::string_view reason) {
    if (state_ == State::Stored) return;
    Fail(std::string(reason.empty() ? PictureReason::kTransferFailed : reason), false);
}

void PictureStore::Drop(std::string_view reason) {
    if (state_ == State::Stored) return;
    Fail(std::string(reason), true);
}

std::string FailedListPath(std::string_view userFolder) {
    return JoinPath(PicturesFolder(userFolder), "failed.txt");
}

std::string FailedListText(const std::vector<FailedPicture>& failures) {
    std::string text;
    for (const FailedPicture& failure : failures) {
        text += FailedListField(failure.photoId);
        text += '\t';
        text += FailedListField(failure.address);
        text += '\t';
        text += FailedListField(failure.reason);
        text += "\r\n";
    }
    return text;
}

namespace {

// The entries of failed.txt's text; a line without a photo id and an address names no picture.
std::vector<FailedPicture> ParseFailedList(std::string_view text) {
    std::vector<FailedPicture> entries;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.ends_with('\r')) line.remove_suffix(1);
        const size_t first = line.find('\t');
        if (first == 0 || first == std::string_view::npos) continue;
        const std::string_view rest = line.substr(first + 1);
        const size_t second = std::min(rest.find('\t'), rest.size());
        entries.push_back({std::string(line.substr(0, first)), std::string(rest.substr(0, second)),
                           std::string(rest.substr(std::min(second + 1, rest.size())))});
    }
    return entries;
}

// The picture an entry names: its photo id and the size its address asks for (-1 for none).
std::pair<std::string, int> PictureOf(const FailedPicture& entry) {
    for (int size = 0; size < SizeCount; ++size)
        if (entry.address.ends_with(PictureAddress("", size))) return {entry.photoId, size};
    return {entry.photoId, -1};
}

}  // namespace

bool WriteFailedList(std::string_view userFolder, const std::vector<FailedPicture>& failures) {
    const std::string path = FailedListPath(userFolder);
    std::string old;
    if (!ReadWholeFile(path, old) && errno != ENOENT) return false;  // its entries would be lost

    std::set<std::pair<std::string, int>> listed;
    for (const FailedPicture& failure : failures) listed.insert(PictureOf(failure));
    std::vector<FailedPicture> entries;
    for (FailedPicture& entry : ParseFailedList(old)) {
        const auto [photoId, size] = PictureOf(entry);
        if (IsRegularFile(PicturePath(userFolder, photoId, size)) || !listed.insert({photoId, size}).second)
            continue;
        entries.push_back(std::move(entry));
    }
    entries.insert(entries.end(), failures.begin(), failures.end());

    if (entries.empty()) return ::unlink(ToOsPath(path).c_str()) == 0 || errno == ENOENT;
    return MakeDirectories(PicturesFolder(userFolder)) &&
           WriteFileAtomic(path, FailedListText(entries), kPictureMode);
}

LocalPicture LocalPicturePath(std::string_view userFolder, std::string_view photoId, int sizeIndex) {
    LocalPicture picture;
    // Pages link with "/" whatever the platform's separator.
    picture.relativePath = RelativePicturePath(photoId, sizeIndex, '/');
    picture.present =
        !picture.relativePath.empty() && IsRegularFile(PicturePath(userFolder, photoId, sizeIndex));
    return picture;
}
