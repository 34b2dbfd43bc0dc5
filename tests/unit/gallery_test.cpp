// The offline gallery and the XMP sidecars built from the sample user's ledger and pictures: what is
// written, what a repeat leaves alone, what a change rewrites, and texts that must stay data.
#include "output/gallery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <vips/vips8>

#include "archive/file_digest.h"
#include "archive/ledger.h"
#include "output/gallery_pages.h"
#include "output/image_files.h"
#include "output/sidecars.h"
#include "platform/text_format.h"
#include "synthetic_user.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class GalleryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ledger = Ledger::Open(Ledger::PathFor(user), &error);
        ASSERT_TRUE(ledger) << error;
    }
    // Every file under the gallery folder, by name, with its bytes.
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(user + "/gallery"))
            if (entry.is_regular_file())
                files[fs::relative(entry.path(), user + "/gallery")] = ReadFile(entry.path());
        return files;
    }
    // The names whose bytes differ between two snapshots, or that only one has.
    static std::string Changed(const std::map<std::string, std::string>& before,
                               const std::map<std::string, std::string>& after) {
        std::map<std::string, std::string> all = before;
        all.insert(after.begin(), after.end());
        std::string changed;
        for (const auto& [name, bytes] : all)
            if (!before.count(name) || !after.count(name) || before.at(name) != after.at(name))
                changed += name + " ";
        return changed;
    }

    TempDir dir;
    std::string user = MakeSampleUser(dir.path());
    std::unique_ptr<Ledger> ledger;
};

TEST_F(GalleryTest, BuildsEveryPageOnceAndRecordsDimensions) {
    const GalleryBuild first = BuildGallery(user, "alice", *ledger);
    ASSERT_TRUE(first.ok()) << first.failure;
    EXPECT_EQ(first.dimensionsRead, 14);
    EXPECT_EQ(first.thumbnailsMade, 1);  // p105: its small size is not stored
    for (const auto& [key, picture] : ledger->Pictures()) EXPECT_GT(picture.width, 0) << key.first;

    const auto files = Files();
    std::string names;
    for (const auto& [name, bytes] : files)
        names += (name.rfind("thumbs/p105-", 0) == 0 ? "thumbs/p105" : name) + " ";
    // No page for the album whose id cannot name a file.
    EXPECT_EQ(names,
              ".built album-a1.html album-a2.html album-a3.html gallery.css gallery.js index.html search.js "
              "thumbs/p105 ");
    EXPECT_NE(files.at("album-a1.html").find("&lt;script&gt;window.injected"), std::string::npos);
    EXPECT_NE(files.at("index.html").find("<div class=\"cover\">"), std::string::npos)
        << "the album whose id cannot name a file has no link";
    EXPECT_EQ(files.at("search.js").find("</"), std::string::npos) << "no text can end a script";
    EXPECT_NE(ReadFile(dir / "index.html").find("href=\"alice/gallery/index.html\""), std::string::npos);

    const GalleryBuild repeat = BuildGallery(user, "alice", *ledger);
    EXPECT_TRUE(repeat.unchanged);
    EXPECT_EQ(repeat.filesWritten + repeat.dimensionsRead + repeat.thumbnailsMade, 0);
    EXPECT_EQ(Changed(files, Files()), "");
}

TEST_F(GalleryTest, AChangeRewritesOnlyWhatShowsIt) {
    ASSERT_TRUE(BuildGallery(user, "alice", *ledger).ok());
    PhotoInfo details;
    details.id = "p202";
    details.description = "A cake with candles";
    const std::string newPicture = MakePicture(640, 480, 10, true);
    const struct {
        const char* change;
        std::function<void()> make;
        std::string changed;
    } cases[] = {
        {"a description", [&] { ledger->SeeDetails("a2", details); }, "album-a2.html search.js "},
        // Another picture for p105: its thumbnail is made again, under the new checksum.
        {"a picture",
         [&] {
             WriteFile(user + "/pictures/big/p105.jpg", newPicture);
             ledger->RecordPicture("p105", 2, newPicture.size(),
                                   DigestFile(user + "/pictures/big/p105.jpg")->sha256);
         },
         "album-a1.html search.js thumbs/p105 thumbs/p105 "},
    };
    for (const auto& c : cases) {
        const auto before = Files();
        c.make();
        const GalleryBuild build = BuildGallery(user, "alice", *ledger);
        ASSERT_TRUE(build.ok()) << build.failure;
        std::string changed = Changed(before, Files());
        ReplaceAll(changed, ".built ", "");
        for (size_t at; (at = changed.find("thumbs/p105-")) != std::string::npos;)
            changed.replace(at, changed.find(' ', at) - at, "thumbs/p105");
        EXPECT_EQ(changed, c.changed) << c.change;
    }
}

TEST(GalleryText, AddressesAndDates) {
    const struct {
        std::string address, link;
    } addresses[] = {
        {"http://h/d/1", "http://h/d/1"},
        {"HTTPS://h/a b\"<x>", "HTTPS://h/a%20b%22%3Cx%3E"},
        {"javascript:alert(1)", ""},
        {"//h/d/1", ""},
        {"", ""},
    };
    for (const auto& a : addresses) EXPECT_EQ(ServiceAddress(a.address), a.link) << a.address;
    EXPECT_EQ(LocalDate("not a time"), "");
    EXPECT_EQ(LocalDate("2024-05-01T12:00:00Z").size(), 10u);
    EXPECT_EQ(AlbumPageName("../x"), "");
}

// A sidecar as the exiv2 tool reads it, as photo programs do: one "KEY VALUE" line per property.
std::string ReadSidecar(const std::string& path) {
    std::string text;
    FILE* tool = popen(("exiv2 -PXkv '" + path + "' 2>&1").c_str(), "r");
    for (char line[4096]; tool && fgets(line, sizeof line, tool);) {
        const std::string read = line;
        const size_t space = read.find(' ');
        text += space == std::string::npos
                    ? read
                    : read.substr(0, space + 1) + read.substr(read.find_first_not_of(' ', space));
    }
    if (tool) pclose(tool);
    return text;
}

TEST_F(GalleryTest, SidecarsReadBackInPhotoTools) {
    const std::string picture = user + "/pictures/small/p102.jpg";
    const std::string bytes = ReadFile(picture);
    const SidecarWrite first = WriteSidecars(user, "alice", *ledger);
    ASSERT_TRUE(first.ok()) << first.failure;
    EXPECT_EQ(first.written, 14);
    EXPECT_EQ(ReadFile(picture), bytes) << "the picture is never touched";
    EXPECT_EQ(ReadSidecar(picture + ".xmp"),
              "Xmp.dc.title lang=\"x-default\" <script>window.injected = 1</script>\n"
              "Xmp.dc.description lang=\"x-default\" \"quoted\" & <b>bold</b>\n"
              "Xmp.dc.subject 旅行 Travel\n"
              "Xmp.dc.identifier p102\n"
              "Xmp.lr.hierarchicalSubject Zorbi|alice|旅行 Travel\n");

    const SidecarWrite repeat = WriteSidecars(user, "alice", *ledger);
    EXPECT_EQ(repeat.written, 0);
    EXPECT_EQ(repeat.unchanged, 14);
}

}  // namespace

// The sizes read from a file's first bytes are those libvips reads, a quarter turn by EXIF included;
// where the first bytes do not tell (WebP with EXIF), libvips reads the file.
TEST(PictureSize, HeaderSaysWhatLibvipsSays) {
    const vips::VImage picture = vips::VImage::black(300, 200, vips::VImage::option()->set("bands", 3));
    vips::VImage turned = picture.copy();
    turned.set("orientation", 6);
    const struct {
        const char* suffix;
        vips::VImage image;
        ImageSize expected;
        bool headerTells;
    } cases[] = {
        {".jpg", picture, {300, 200}, true},   {".jpg", turned, {200, 300}, true},
        {".png", picture, {300, 200}, true},   {".gif", picture, {300, 200}, true},
        {".webp", picture, {300, 200}, false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string file = dir / (std::string("picture") + c.suffix);
        c.image.write_to_file(file.c_str());
        const std::optional<ImageSize> head = HeaderImageSize(ReadFile(file));
        EXPECT_EQ(head.has_value(), c.headerTells) << c.suffix;
        const std::optional<ImageSize> read = ReadImageSize(file);
        for (const std::optional<ImageSize>& size : {head, read}) {
            if (size)
                EXPECT_EQ(std::pair(size->width, size->height),
                          std::pair(c.expected.width, c.expected.height))
                    << c.suffix;
        }
        EXPECT_TRUE(read) << c.suffix;
    }
    EXPECT_FALSE(HeaderImageSize("\xFF\xD8\xFF\xDA"));  // image data before any frame header
    EXPECT_FALSE(HeaderImageSize("<html>"));
}
