#pragma once
// The pictures a backup keeps: OUTPUT/USER/pictures/SIZE/PHOTOID.jpg. A picture arrives in
// PHOTOID.jpg.part and becomes PHOTOID.jpg only once it is a complete image, so a present picture is
// always a whole one. Failure reasons are short ASCII texts: they go into failed.txt as they are.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/fetch_engine.h"

// The largest picture kept.
inline constexpr std::uint64_t kMaxPictureBytes = std::uint64_t{64} << 20;
// How many leading bytes ImageFormatOf needs to tell every format.
inline constexpr std::size_t kImageSignatureBytes = 12;
// How many trailing bytes ImageEndsWhole needs.
inline constexpr std::size_t kImageTailBytes = 12;

// Why a picture was not stored.
namespace PictureReason {
inline constexpr const char* kNotAnImage = "not an image";
inline constexpr const char* kEmpty = "empty";
inline constexpr const char* kIncomplete = "incomplete";       // fewer bytes than announced, or no image end
inline constexpr const char* kSizeMismatch = "size mismatch";  // more bytes than announced
inline constexpr const char* kTooLarge = "too large";
inline constexpr const char* kBadRange = "bad range";  // a 206 that does not continue the .part
inline constexpr const char* kBadId = "bad id";        // unsafe photo id or size outside 0..3
inline constexpr const char* kCannotCreate = "cannot create file";
inline constexpr const char* kCannotWrite = "cannot write";
inline constexpr const char* kDiskFull = "disk full";
inline constexpr const char* kCannotRename = "cannot rename";
inline constexpr const char* kTransferFailed = "transfer failed";
}  // namespace PictureReason

// "HTTP 404": the reason for an answer with a status other than 200 or 206.
std::string HttpStatusReason(long status);

enum class ImageFormat { None, Jpeg, Png, Gif, WebP };

// The format the first bytes of a body announce; None for anything else (an HTML error page, text,
// too few bytes to tell).
ImageFormat ImageFormatOf(std::string_view firstBytes);

// Whether an image of `size` bytes that starts with `firstBytes` and ends with `lastBytes` (its last
// kImageTailBytes or all of it) ends as its format ends: JPEG with the end marker FF D9, PNG with its
// IEND chunk, GIF with the trailer 0x3B, WebP where its RIFF length says.
bool ImageEndsWhole(std::string_view firstBytes, std::string_view lastBytes, std::uint64_t size);

// Why a body of `size` bytes starting with `firstBytes` and ending with `lastBytes` is not a picture to
// keep, or an empty text when it is one. `wholeSize` is the picture's size as the server announced it,
// when it did.
std::string PictureCheck(std::string_view firstBytes, std::string_view lastBytes, std::uint64_t size,
                         std::optional<std::uint64_t> wholeSize);

// USER/pictures.
std::string PicturesFolder(std::string_view userFolder);
// Removes the temporary files of processes that no longer run from USER/pictures and its size folders.
void RemoveStalePictureFiles(std::string_view userFolder);

// USER/pictures/SIZE/PHOTOID.jpg (SIZE: small, medium, big, large for 0 to 3); empty for an id that
// fails IsSafeFileId or a size outside 0 to 3.
std::string PicturePath(std::string_view userFolder, std::string_view photoId, int sizeIndex);

// One picture on its way to the disk. The fetch engine asks AlreadyPresent (skip the request),
// ResumeFrom (the Range start), then feeds the answer: Begin with its head, Append for each piece of
// the body as it arrives, and Finish at the end (or Abandon when the transfer failed, Drop when the
// .part can never become the picture). One object per answer; not shared between threads.
class PictureStore {
  public:
    PictureStore(std::string_view userFolder, std::string_view photoId, int sizeIndex);
    ~PictureStore();
    PictureStore(const PictureStore&) = delete;
    PictureStore& operator=(const PictureStore&) = delete;

    // False for an unsafe id or a size outside 0 to 3: such a picture has no file and every step fails.
    bool usable() const { return !path_.empty(); }
    const std::string& path() const { return path_; }          // PHOTOID.jpg
    const std::string& partPath() const { return partPath_; }  // PHOTOID.jpg.part

    // True when PHOTOID.jpg is a regular file: it only ever appears whole, so it is not fetched again.
    bool AlreadyPresent() const;
    // The bytes already in the .part (0 when there is none, or one not worth continuing): the N of
    // "Range: bytes=N-", or no Range header for 0. Remembered, so that a 206 must continue there.
    std::uint64_t ResumeFrom();

    // The answer's head has arrived. 200, and a 206 from byte 0, start the .part over (a fresh file); a
    // 206 from ResumeFrom appends to it; a 206 from anywhere else fails as "bad range" and removes the
    // .part. Any other status fails with "HTTP N" (416 also removes the .part, whose size the picture
    // does not continue; other statuses keep it for a later try). A length or total that makes the
    // picture too large fails at once. False: do not send the body here; reason() says why.
    bool Begin(const AnswerHead& head);
    // Appends a piece of the body to the .part. False refuses the rest of the transfer: a picture past
    // kMaxPictureBytes (the .part is removed) or a failed write (the .part keeps what it holds).
    bool Append(std::string_view bytes);
    // The body has ended. Checks the .part: an image within the limit, as long as the answer said the
    // picture is (a 200's Content-Length, a 206's total; a 206 without a total proves nothing), ending
    // as its format ends. Then syncs it and renames it to PHOTOID.jpg. On failure a .part that a later
    // range may continue stays; any other is removed.
    bool Finish();
    // The transfer failed (network error, interrupt): the .part keeps what arrived, for resuming. The
    // first reason given stays.
    void Abandon(std::string_view reason = PictureReason::kTransferFailed);
    // The .part can never become the picture (too large, a range that continues nothing): it is removed.
    void Drop(std::string_view reason);

    // Why the picture was not stored; empty while nothing failed.
    const std::string& reason() const { return reason_; }

  private:
    enum class State { Idle, Receiving, Failed, Stored };
    bool Fail(std::string reason, bool removePart);
    void CloseFile();

    std::string path_;
    std::string partPath_;
    State state_ = State::Idle;
    int fd_ = -1;
    std::uint64_t rangeStart_ = 0;            // the Range asked for
    std::uint64_t startOffset_ = 0;           // the .part's size when this answer began
    std::uint64_t received_ = 0;              // body bytes of this answer written
    std::optional<std::uint64_t> wholeSize_;  // the picture's size as the answer announced it
    bool unprovable_ = false;                 // a 206 without a total
    std::string reason_;
};

// A picture this run could not store: the photo id, the picture's address, the reason.
struct FailedPicture {
    std::string photoId;
    std::string address;
    std::string reason;
    int size = -1;  // 0..3; not written to failed.txt, which tells it by the address
};

// USER/pictures/failed.txt.
std::string FailedListPath(std::string_view userFolder);
// One line per failure: id, address, reason, separated by tabs, ended by "\r\n". Control characters
// in a field become "?", so a field can neither split a line nor add one.
std::string FailedListText(const std::vector<FailedPicture>& failures);
// Rewrites failed.txt through WriteFileAtomic with this run's failures and the entries of the file
// before that still hold: an entry goes when its picture is present (stored whole) or when this run
// failed the same picture (photo id and size) again; pictures the run did not get to keep theirs. The
// file is removed once no entry remains. False, with errno saying why, when reading or writing fails.
bool WriteFailedList(std::string_view userFolder, const std::vector<FailedPicture>& failures);

// A picture as the offline pages can link it.
struct LocalPicture {
    bool present = false;      // PHOTOID.jpg is there
    std::string relativePath;  // "pictures/big/PHOTOID.jpg" from the user folder; empty for a bad id or size
};
LocalPicture LocalPicturePath(std::string_view userFolder, std::string_view photoId, int sizeIndex);
