#include "jobs/picture_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

std::string PictureCheck(std::string_view firstBytes, std::uint64_t size,
                         std::optional<std::uint64_t> expectedSize) {
    if (size > kMaxPictureBytes) return PictureReason::kTooLarge;
    if (expectedSize && size < *expectedSize) return PictureReason::kIncomplete;
    if (expectedSize && size > *expectedSize) return PictureReason::kSizeMismatch;
    if (size == 0) return PictureReason::kEmpty;
    if (ImageFormatOf(firstBytes.substr(0, size)) == ImageFormat::None) return PictureReason::kNotAnImage;
    return "";
}

std::string PicturesFolder(std::string_view userFolder) {
    return JoinPath(userFolder, "pictures");
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

bool PictureStore::Begin(long status, std::optional<std::uint64_t> contentLength) {
    if (state_ != State::Idle) return false;  // one answer per object
    if (!usable()) return Fail(PictureReason::kBadId, false);
    // 416: the server's picture ends before the .part does, so the .part belongs to no picture.
    if (status != 200 && status != 206) return Fail(HttpStatusReason(status), status == 416);
    const std::uint64_t start = status == 206 ? rangeStart_ : 0;
    if (contentLength && (*contentLength > kMaxPictureBytes || start + *contentLength > kMaxPictureBytes))
        return Fail(PictureReason::kTooLarge, true);
    const std::string folder = path_.substr(0, path_.rfind(kPathSeparator));
    if (!MakeDirectories(folder)) return Fail(PictureReason::kCannotCreate, false);

    const std::string part = ToOsPath(partPath_);
    // O_NOFOLLOW: a link at the .part is never written through. O_NONBLOCK: a FIFO there fails at
    // once instead of waiting for a reader.
    const int common = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    if (status == 200) {
        // Starting over makes a fresh file, so its mode never comes from the old .part.
        if (::unlink(part.c_str()) != 0 && errno != ENOENT) return Fail(PictureReason::kCannotCreate, false);
        fd_ = ::open(part.c_str(), common | O_CREAT | O_EXCL, kPictureMode);
    } else {
        fd_ = ::open(part.c_str(), common | O_CREAT | O_APPEND, kPictureMode);
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
    contentLength_ = contentLength;
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

bool PictureStore::Finish(std::optional<std::uint64_t> contentLength) {
    if (state_ == State::Stored) return true;
    if (state_ == State::Failed) return false;
    if (state_ != State::Receiving) return Fail(PictureReason::kTransferFailed, false);
    if (contentLength) contentLength_ = contentLength;

    // The check reads the file itself: what gets renamed is what is on the disk.
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return Fail(PictureReason::kCannotWrite, false);
    char head[kImageSignatureBytes];
    ssize_t headSize;
    do {
        headSize = ::pread(fd_, head, sizeof head, 0);
    } while (headSize < 0 && errno == EINTR);
    if (headSize < 0) return Fail(PictureReason::kCannotWrite, false);
    const std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    std::optional<std::uint64_t> expected;
    if (contentLength_) expected = startOffset_ + *contentLength_;
    std::string failure = PictureCheck(std::string_view(head, static_cast<size_t>(headSize)), size, expected);
    // An incomplete body may be continued by the next request; anything else will never become a picture.
    if (!failure.empty()) return Fail(failure, failure != PictureReason::kIncomplete);

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

bool WriteFailedList(std::string_view userFolder, const std::vector<FailedPicture>& failures) {
    const std::string path = FailedListPath(userFolder);
    if (failures.empty()) return ::unlink(ToOsPath(path).c_str()) == 0 || errno == ENOENT;
    return MakeDirectories(PicturesFolder(userFolder)) &&
           WriteFileAtomic(path, FailedListText(failures), kPictureMode);
}

LocalPicture LocalPicturePath(std::string_view userFolder, std::string_view photoId, int sizeIndex) {
    LocalPicture picture;
    // Pages link with "/" whatever the platform's separator.
    picture.relativePath = RelativePicturePath(photoId, sizeIndex, '/');
    picture.present =
        !picture.relativePath.empty() && IsRegularFile(PicturePath(userFolder, photoId, sizeIndex));
    return picture;
}
