#include "jobs/picture_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <numeric>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kJpeg = "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01"s + std::string(200, 'j') + "\xFF\xD9";
const std::string kPngEnd = "\0\0\0\0IEND\xAE\x42\x60\x82"s;
const std::string kPng = "\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR"s + std::string(100, 'p') + kPngEnd;
const std::string kGif = "GIF89a\x01\x00\x01\x00;"s;
const std::string kWebP = "RIFF\x10\x00\x00\x00WEBPVP8 "s + std::string(8, 'w');  // RIFF length 16 + 8
const std::string kHtml = "<!DOCTYPE html><html><body>Not found</body></html>\r\n";

std::string Head(const std::string& bytes) {
    return bytes.substr(0, kImageSignatureBytes);
}
std::string Tail(const std::string& bytes) {
    return bytes.substr(bytes.size() - std::min(bytes.size(), kImageTailBytes));
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(PictureCheckTest, ImageEndsAsItsFormatEnds) {
    struct Case {
        const char* name;
        std::string bytes;
        bool whole;
    } cases[] = {
        {"jpeg", kJpeg, true},
        {"jpeg cut after an FF", kJpeg.substr(0, kJpeg.size() - 1), false},
        {"jpeg with a byte after its end marker", kJpeg + "\0"s, false},
        {"png", kPng, true},
        {"png cut inside IEND", kPng.substr(0, kPng.size() - 4), false},
        {"gif", kGif, true},
        {"gif cut", kGif.substr(0, kGif.size() - 1), false},
        {"webp", kWebP, true},
        {"webp cut", kWebP.substr(0, kWebP.size() - 1), false},
        {"webp longer than its RIFF length", kWebP + "x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ImageEndsWhole(Head(c.bytes), Tail(c.bytes), c.bytes.size()), c.whole) << c.name;
}

TEST(PictureCheckTest, AcceptsImagesAndRefusesEverythingElse) {
    struct Case {
        const char* name;
        std::string bytes;
        std::optional<std::uint64_t> whole;
        std::string reason;
        std::uint64_t size = 0;  // 0: the bytes' own
    } cases[] = {
        {"jpeg", kJpeg, kJpeg.size(), ""},
        {"png", kPng, std::nullopt, ""},
        {"gif", kGif, kGif.size(), ""},
        {"webp", kWebP, kWebP.size(), ""},
        {"jpeg at the limit", kJpeg, std::nullopt, "", kMaxPictureBytes},
        {"html with 200", kHtml, kHtml.size(), PictureReason::kNotAnImage},
        {"riff of another kind", "RIFF\x10\x00\x00\x00WAVEfmt "s, 16, PictureReason::kNotAnImage},
        {"webp cut in its signature", kWebP.substr(0, 10), 10, PictureReason::kNotAnImage},
        {"gif of an unknown version", "GIF88a\x01\x00;"s, std::nullopt, PictureReason::kNotAnImage},
        {"empty", "", 0, PictureReason::kEmpty},
        {"empty without length", "", std::nullopt, PictureReason::kEmpty},
        {"shorter than announced", kJpeg, 300, PictureReason::kIncomplete},
        {"cut, no length announced", kJpeg.substr(0, 100), std::nullopt, PictureReason::kIncomplete},
        {"longer than announced", kJpeg, 100, PictureReason::kSizeMismatch},
        {"over the limit", kJpeg, std::nullopt, PictureReason::kTooLarge, kMaxPictureBytes + 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PictureCheck(Head(c.bytes), Tail(c.bytes), c.size ? c.size : c.bytes.size(), c.whole),
                  c.reason)
            << c.name;
}

class PictureStoreTest : public ::testing::Test {
  protected:
    std::string User() const { return dir / "alice"; }
    std::string Final() const { return User() + "/pictures/big/p1.jpg"; }
    std::string Part() const { return Final() + ".part"; }

    TempDir dir;
};

// One answer from ResumeFrom to Finish, against an optional .part left by an earlier run.
TEST_F(PictureStoreTest, AnswersEndAsPictureOrReason) {
    const long long n = 50, size = kJpeg.size(), png = kPng.size(), html = kHtml.size(),
                    max = kMaxPictureBytes;
    const std::string first = kJpeg.substr(0, n), rest = kJpeg.substr(n);
    const std::string incomplete = PictureReason::kIncomplete, notImage = PictureReason::kNotAnImage;
    struct Case {
        const char* name;
        std::optional<std::string> part;
        AnswerHead head;
        std::vector<std::string> chunks;
        std::string reason;  // empty: stored
        bool partKept;       // failed, keeping what it has in the .part
    } cases[] = {
        {"whole in pieces", {}, {200, size}, {kJpeg.substr(0, 7), kJpeg.substr(7)}, "", false},
        {"without length", {}, {200}, {kPng}, "", false},
        {"resumed", first, {206, size - n, n, size}, {rest}, "", false},
        {"206 from byte 0 over a part", first, {206, size, 0, size}, {kJpeg}, "", false},
        {"200 after a part starts over", first, {200, png}, {kPng}, "", false},
        {"html with 200", {}, {200, html}, {kHtml}, notImage, false},
        {"text", {}, {200}, {"plain text\r\n"}, notImage, false},
        {"empty", {}, {200, 0}, {}, PictureReason::kEmpty, false},
        {"truncated", {}, {200, size}, {kJpeg.substr(0, 30)}, incomplete, true},
        {"cut without length", {}, {200}, {kJpeg.substr(0, 99)}, incomplete, true},
        {"first 100 bytes as a 206", {}, {206, 100, 0, size}, {kJpeg.substr(0, 100)}, incomplete, true},
        {"resumed and still short", first, {206, size - n, n, size}, {rest.substr(0, 10)}, incomplete, true},
        {"206 without a total", first, {206, size - n, n}, {rest}, incomplete, true},
        {"206 from elsewhere", first, {206, -1, n + 1, size}, {}, PictureReason::kBadRange, false},
        {"all announced bytes, no end", {}, {200, size - 2}, {kJpeg.substr(0, size - 2)}, incomplete, false},
        {"more than announced", {}, {200, 10}, {kJpeg}, PictureReason::kSizeMismatch, false},
        {"resumed error page", kHtml.substr(0, 20), {206, -1, 20, html}, {kHtml.substr(20)}, notImage, false},
        {"404 keeps the part", first, {404}, {}, "HTTP 404", true},
        {"416 drops the part", first, {416}, {}, "HTTP 416", false},
        {"announced too large", {}, {200, max + 1}, {}, PictureReason::kTooLarge, false},
        {"total too large", first, {206, 10, n, max + 1}, {}, PictureReason::kTooLarge, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(User());
        if (c.part) WriteFile(Part(), *c.part);
        PictureStore store(User(), "p1", 2);
        ASSERT_EQ(store.path(), Final());
        EXPECT_EQ(store.ResumeFrom(), c.part ? c.part->size() : 0);
        bool ok = store.Begin(c.head);
        for (const std::string& chunk : c.chunks) ok = ok && store.Append(chunk);
        ok = ok && store.Finish();
        EXPECT_EQ(ok, c.reason.empty());
        EXPECT_EQ(store.reason(), c.reason);
        // An answer from byte 0 replaces the .part; any other continues it or leaves it as it was.
        const bool fromZero = c.head.status == 200 || (c.head.status == 206 && c.head.rangeStart == 0);
        const std::string bytes = (c.part && !fromZero ? *c.part : "") +
                                  std::accumulate(c.chunks.begin(), c.chunks.end(), std::string());
        EXPECT_EQ(ReadFile(Final()), c.reason.empty() ? bytes : "");
        EXPECT_EQ(Exists(Part()), c.partKept);
        if (c.partKept) EXPECT_EQ(ReadFile(Part()), bytes);
    }
}

TEST_F(PictureStoreTest, SinkRefusesPastTheLimit) {
    WriteFile(Part(), kJpeg);
    fs::resize_file(Part(), kMaxPictureBytes - 4);  // sparse: nothing big is written
    PictureStore store(User(), "p1", 2);
    ASSERT_EQ(store.ResumeFrom(), kMaxPictureBytes - 4);
    ASSERT_TRUE(store.Begin({206, -1, kMaxPictureBytes - 4, -1}));
    EXPECT_TRUE(store.Append("abcd"));
    EXPECT_FALSE(store.Append("e"));
    EXPECT_FALSE(store.Append("f"));
    EXPECT_FALSE(store.Finish());
    EXPECT_EQ(store.reason(), PictureReason::kTooLarge);
    EXPECT_FALSE(Exists(Part()));
    EXPECT_FALSE(Exists(Final()));
}

TEST_F(PictureStoreTest, ContinuesOnlyTheRangeAskedFor) {
    WriteFile(Part(), kJpeg.substr(0, 40));
    PictureStore store(User(), "p1", 2);  // no ResumeFrom: the request asked for the whole picture
    EXPECT_FALSE(store.Begin({206, -1, 40, 214}));
    EXPECT_EQ(store.reason(), PictureReason::kBadRange);
    EXPECT_FALSE(Exists(Part()));
}

TEST_F(PictureStoreTest, NeverWritesThroughLinks) {
    const std::string victim = dir / "victim";
    WriteFile(victim, kJpeg.substr(0, 40));
    fs::create_directories(fs::path(Part()).parent_path());
    for (const bool hard : {false, true}) {
        SCOPED_TRACE(hard ? "hard link" : "symbolic link");
        fs::remove(Part());
        hard ? fs::create_hard_link(victim, Part()) : fs::create_symlink(victim, Part());
        PictureStore resumed(User(), "p1", 2);
        resumed.ResumeFrom();
        EXPECT_FALSE(resumed.Begin({206, -1, 40, 214}));
        // A symbolic link is no .part to resume: the range continues nothing.
        EXPECT_EQ(resumed.reason(), hard ? PictureReason::kCannotCreate : PictureReason::kBadRange);
        // A whole answer replaces the link with a file of its own.
        PictureStore whole(User(), "p1", 2);
        ASSERT_TRUE(whole.Begin({200}));
        ASSERT_TRUE(whole.Append(kPng) && whole.Finish());
        EXPECT_EQ(ReadFile(victim), kJpeg.substr(0, 40));
        EXPECT_EQ(ReadFile(Final()), kPng);
        fs::remove(Final());
    }
}

TEST_F(PictureStoreTest, ModesOfANewFileOnly) {
    const mode_t old = ::umask(027);
    PictureStore fresh(User(), "p1", 2);
    const bool stored = fresh.Begin({200}) && fresh.Append(kJpeg) && fresh.Finish();
    ::umask(old);
    ASSERT_TRUE(stored);
    EXPECT_EQ(ModeOf(Final()), 0640u);

    // A .part that gained bits since an earlier run does not hand them on.
    PictureStore resumed(User(), "p2", 2);
    WriteFile(resumed.partPath(), kJpeg.substr(0, 40));
    fs::permissions(resumed.partPath(), fs::perms::all | fs::perms::set_uid);
    resumed.ResumeFrom();
    ASSERT_TRUE(resumed.Begin({206, -1, 40, 214}) && resumed.Append(kJpeg.substr(40)) && resumed.Finish());
    EXPECT_EQ(ModeOf(resumed.path()) & ~0644u, 0u);
}

TEST_F(PictureStoreTest, PresentPicturesAndLocalPaths) {
    WriteFile(Final(), "whole");
    fs::create_symlink(Final(), User() + "/pictures/big/linked.jpg");
    fs::create_directories(User() + "/pictures/big/folder.jpg");
    struct Case {
        const char* id;
        int size;
        bool present;
        std::string relative;
    } cases[] = {
        {"p1", 2, true, "pictures/big/p1.jpg"},
        {"p1", 0, false, "pictures/small/p1.jpg"},
        {"p1", 3, false, "pictures/large/p1.jpg"},
        {"linked", 2, false, "pictures/big/linked.jpg"},
        {"folder", 2, false, "pictures/big/folder.jpg"},
        {"../big/p1", 2, false, ""},
        {"p1", 4, false, ""},
        {"p1", -1, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.id) + " " + std::to_string(c.size));
        const LocalPicture local = LocalPicturePath(User(), c.id, c.size);
        EXPECT_EQ(local.present, c.present);
        EXPECT_EQ(local.relativePath, c.relative);
        PictureStore store(User(), c.id, c.size);
        EXPECT_EQ(store.AlreadyPresent(), c.present);
        EXPECT_EQ(store.usable(), !c.relative.empty());
    }
    PictureStore unsafe(User(), "../big/p1", 2);
    EXPECT_FALSE(unsafe.Begin({200}));
    EXPECT_EQ(unsafe.reason(), PictureReason::kBadId);
    EXPECT_EQ(ReadFile(Final()), "whole");
}

// failed.txt keeps what the runs did not clear: an entry goes when its picture is stored or when a
// run fails it again, and the file goes with the last entry.
TEST_F(PictureStoreTest, FailedListKeepsWhatNoRunCleared) {
    const std::string path = User() + "/pictures/failed.txt";
    ASSERT_EQ(FailedListPath(User()), path);
    struct Run {
        const char* name;
        std::vector<std::string> stored;  // pictures present before the list is written
        std::vector<FailedPicture> failures;
        std::string list;  // empty: no file
    } runs[] = {
        {"fields cannot split a line",
         {},
         {{"p1", "http://h/a/b/big.jpg", "HTTP 404"}, {"p2", "http://h/x\r\ny\tz/large.jpg", "not an image"}},
         "p1\thttp://h/a/b/big.jpg\tHTTP 404\r\np2\thttp://h/x??y?z/large.jpg\tnot an image\r\n"},
        {"pictures not got to stay",
         {},
         {{"p3", "http://h/c/d/small.jpg", "incomplete"}},
         "p1\thttp://h/a/b/big.jpg\tHTTP 404\r\np2\thttp://h/x??y?z/large.jpg\tnot an image\r\n"
         "p3\thttp://h/c/d/small.jpg\tincomplete\r\n"},
        {"stored goes, failed again is replaced, another size is another picture",
         {"big/p1.jpg"},
         {{"p2", "http://h/x/large.jpg", "HTTP 503"}, {"p3", "http://h/c/d/big.jpg", "HTTP 404"}},
         "p3\thttp://h/c/d/small.jpg\tincomplete\r\np2\thttp://h/x/large.jpg\tHTTP 503\r\n"
         "p3\thttp://h/c/d/big.jpg\tHTTP 404\r\n"},
        {"every picture stored", {"large/p2.jpg", "small/p3.jpg", "big/p3.jpg"}, {}, ""},
        {"nothing to remove", {}, {}, ""},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.name);
        for (const std::string& stored : run.stored) WriteFile(User() + "/pictures/" + stored, kJpeg);
        ASSERT_TRUE(WriteFailedList(User(), run.failures));
        EXPECT_EQ(Exists(path), !run.list.empty());
        EXPECT_EQ(ReadFile(path), run.list);
    }
}

}  // namespace
