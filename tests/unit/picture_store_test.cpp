#include "jobs/picture_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kJpeg = "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01"s + std::string(200, 'j') + "\xFF\xD9";
const std::string kPng = "\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR"s + std::string(100, 'p');
const std::string kHtml = "<!DOCTYPE html><html><body>Not found</body></html>\r\n";

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(PictureCheckTest, AcceptsImagesAndRefusesEverythingElse) {
    const std::string webp = "RIFF\x10\x00\x00\x00WEBPVP8 "s;
    struct Case {
        const char* name;
        std::string head;
        std::uint64_t size;
        std::optional<std::uint64_t> expected;
        std::string reason;
    } cases[] = {
        {"jpeg", kJpeg, kJpeg.size(), kJpeg.size(), ""},
        {"png", kPng, kPng.size(), std::nullopt, ""},
        {"gif87a", "GIF87a\x01\x00", 8, 8, ""},
        {"gif89a", "GIF89a\x01\x00", 8, std::nullopt, ""},
        {"webp", webp, 16, 16, ""},
        {"jpeg at the limit", kJpeg, kMaxPictureBytes, std::nullopt, ""},
        {"html with 200", kHtml, kHtml.size(), kHtml.size(), PictureReason::kNotAnImage},
        {"text", "hello, world\r\n", 14, std::nullopt, PictureReason::kNotAnImage},
        {"riff of another kind", "RIFF\x10\x00\x00\x00WAVEfmt "s, 16, 16, PictureReason::kNotAnImage},
        {"webp cut in its signature", webp.substr(0, 10), 10, 10, PictureReason::kNotAnImage},
        {"gif of an unknown version", "GIF88a\x01\x00", 8, 8, PictureReason::kNotAnImage},
        {"empty", "", 0, 0, PictureReason::kEmpty},
        {"empty without length", "", 0, std::nullopt, PictureReason::kEmpty},
        {"truncated", kJpeg, 100, 214, PictureReason::kIncomplete},
        {"longer than announced", kJpeg, 214, 100, PictureReason::kSizeMismatch},
        {"over the limit", kJpeg, kMaxPictureBytes + 1, std::nullopt, PictureReason::kTooLarge},
    };
    for (const Case& c : cases) EXPECT_EQ(PictureCheck(c.head, c.size, c.expected), c.reason) << c.name;
    EXPECT_EQ(ImageFormatOf(webp), ImageFormat::WebP);
    EXPECT_EQ(ImageFormatOf("GIF89a"), ImageFormat::Gif);
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
    const size_t n = 50;
    struct Case {
        const char* name;
        std::optional<std::string> part;
        long status;
        std::vector<std::string> chunks;
        std::optional<std::uint64_t> contentLength;
        std::string reason;                    // empty: stored
        std::string stored;                    // the final file's bytes when stored
        std::optional<std::string> partAfter;  // the .part afterwards
    } cases[] = {
        {"whole in pieces", {}, 200, {kJpeg.substr(0, 7), kJpeg.substr(7)}, kJpeg.size(), "", kJpeg, {}},
        {"without length", {}, 200, {kPng}, {}, "", kPng, {}},
        {"resumed", kJpeg.substr(0, n), 206, {kJpeg.substr(n)}, kJpeg.size() - n, "", kJpeg, {}},
        {"200 after a part starts over", kJpeg.substr(0, n), 200, {kPng}, kPng.size(), "", kPng, {}},
        {"html with 200", {}, 200, {kHtml}, kHtml.size(), PictureReason::kNotAnImage, "", {}},
        {"text", {}, 200, {"plain text\r\n"}, {}, PictureReason::kNotAnImage, "", {}},
        {"empty", {}, 200, {}, 0, PictureReason::kEmpty, "", {}},
        {"truncated",
         {},
         200,
         {kJpeg.substr(0, 30)},
         kJpeg.size(),
         PictureReason::kIncomplete,
         "",
         kJpeg.substr(0, 30)},
        {"resumed and still short",
         kJpeg.substr(0, n),
         206,
         {kJpeg.substr(n, 10)},
         kJpeg.size() - n,
         PictureReason::kIncomplete,
         "",
         kJpeg.substr(0, n + 10)},
        {"more than announced", {}, 200, {kJpeg}, 10, PictureReason::kSizeMismatch, "", {}},
        {"resumed error page",
         kHtml.substr(0, 20),
         206,
         {kHtml.substr(20)},
         {},
         PictureReason::kNotAnImage,
         "",
         {}},
        {"404 keeps the part", kJpeg.substr(0, n), 404, {}, {}, "HTTP 404", "", kJpeg.substr(0, n)},
        {"416 drops the part", kJpeg.substr(0, n), 416, {}, {}, "HTTP 416", "", {}},
        {"announced too large", {}, 200, {}, kMaxPictureBytes + 1, PictureReason::kTooLarge, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(User());
        if (c.part) WriteFile(Part(), *c.part);
        PictureStore store(User(), "p1", 2);
        ASSERT_EQ(store.path(), Final());
        EXPECT_EQ(store.ResumeFrom(), c.part ? c.part->size() : 0);
        bool ok = store.Begin(c.status, c.contentLength);
        for (const std::string& chunk : c.chunks) ok = ok && store.Append(chunk);
        ok = ok && store.Finish();
        EXPECT_EQ(ok, c.reason.empty());
        EXPECT_EQ(store.reason(), c.reason);
        EXPECT_EQ(ReadFile(Final()), c.stored);
        EXPECT_EQ(Exists(Part()), c.partAfter.has_value());
        if (c.partAfter) EXPECT_EQ(ReadFile(Part()), *c.partAfter);
    }
}

TEST_F(PictureStoreTest, SinkRefusesPastTheLimit) {
    WriteFile(Part(), kJpeg);
    fs::resize_file(Part(), kMaxPictureBytes - 4);  // sparse: nothing big is written
    PictureStore store(User(), "p1", 2);
    ASSERT_EQ(store.ResumeFrom(), kMaxPictureBytes - 4);
    ASSERT_TRUE(store.Begin(206));
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
    EXPECT_FALSE(store.Begin(206));
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
        EXPECT_FALSE(resumed.Begin(206));
        EXPECT_EQ(resumed.reason(), PictureReason::kCannotCreate);
        // A whole answer replaces the link with a file of its own.
        PictureStore whole(User(), "p1", 2);
        ASSERT_TRUE(whole.Begin(200));
        ASSERT_TRUE(whole.Append(kPng) && whole.Finish());
        EXPECT_EQ(ReadFile(victim), kJpeg.substr(0, 40));
        EXPECT_EQ(ReadFile(Final()), kPng);
        fs::remove(Final());
    }
}

TEST_F(PictureStoreTest, ModesOfANewFileOnly) {
    const mode_t old = ::umask(027);
    PictureStore fresh(User(), "p1", 2);
    const bool stored = fresh.Begin(200) && fresh.Append(kJpeg) && fresh.Finish();
    ::umask(old);
    ASSERT_TRUE(stored);
    EXPECT_EQ(ModeOf(Final()), 0640u);

    // A .part that gained bits since an earlier run does not hand them on.
    PictureStore resumed(User(), "p2", 2);
    WriteFile(resumed.partPath(), kJpeg.substr(0, 40));
    fs::permissions(resumed.partPath(), fs::perms::all | fs::perms::set_uid);
    resumed.ResumeFrom();
    ASSERT_TRUE(resumed.Begin(206) && resumed.Append(kJpeg.substr(40)) && resumed.Finish());
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
    EXPECT_FALSE(unsafe.Begin(200));
    EXPECT_EQ(unsafe.reason(), PictureReason::kBadId);
    EXPECT_EQ(ReadFile(Final()), "whole");
}

TEST_F(PictureStoreTest, FailedListIsRewrittenEachRun) {
    const std::string path = User() + "/pictures/failed.txt";
    ASSERT_EQ(FailedListPath(User()), path);
    ASSERT_TRUE(WriteFailedList(User(), {{"p1", "http://h/a/b/big.jpg", "HTTP 404"},
                                         {"p2", "http://h/x\r\ny\tz/large.jpg", "not an image"}}));
    EXPECT_EQ(ReadFile(path),
              "p1\thttp://h/a/b/big.jpg\tHTTP 404\r\n"
              "p2\thttp://h/x??y?z/large.jpg\tnot an image\r\n");
    ASSERT_TRUE(WriteFailedList(User(), {{"p3", "u", "incomplete"}}));
    EXPECT_EQ(ReadFile(path), "p3\tu\tincomplete\r\n");
    ASSERT_TRUE(WriteFailedList(User(), {}));
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(WriteFailedList(User(), {}));  // nothing to remove
}

}  // namespace
