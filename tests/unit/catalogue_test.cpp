// The catalogue's tables are reused from load to load: a large user is read whole, and a smaller one
// read after it leaves nothing of it readable.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/rest_reader.h"
#include "test_support.h"

namespace {

struct AlbumAnswer {
    int announced;     // the count in the album list
    int listed;        // photos in the album's photo list
    bool details;      // every listed photo gets its details read
    bool description;  // the details carry a description
};

class CatalogueTest : public ::testing::Test {
  protected:
    // Writes one user's answers, every id and text marked with `user`, and reads them in the order
    // of the update workflow.
    void Load(const std::string& user, const std::vector<AlbumAnswer>& albums) {
        std::string list = "<rsp stat='ok'><albums>";
        for (size_t a = 0; a < albums.size(); ++a) {
            const std::string album = user + "-a" + std::to_string(a);
            list += "<album id='" + album + "' photos='" + std::to_string(albums[a].announced) + "'><title>" +
                    album + "</title></album>";
            std::string photos = "<rsp stat='ok'><album><photos>";
            for (int p = 0; p < albums[a].listed; ++p) {
                const std::string photo = album + "-p" + std::to_string(p);
                photos += "<photo id='" + photo + "' dir='" + user + "' filename='" + photo + "' title='" +
                          photo + "'/>";
            }
            WriteFile(dir / (album + ".xml"), photos + "</photos></album></rsp>");
            WriteFile(dir / (album + "-info.xml"),
                      "<rsp stat='ok'><photo secret='" + user + "-secret'><description>" +
                          (albums[a].description ? user + "-text" : "") + "</description></photo></rsp>");
        }
        WriteFile(dir / (user + "-list.xml"), list + "</albums></rsp>");

        ASSERT_EQ(reader.ReadAlbumList(dir / (user + "-list.xml")), static_cast<int>(albums.size()));
        for (size_t a = 0; a < albums.size(); ++a) {
            const int i = static_cast<int>(a);
            const std::string album = user + "-a" + std::to_string(a);
            const int filled = reader.ReadAlbumPhotos(dir / (album + ".xml"), i);
            ASSERT_EQ(filled, std::min(albums[a].announced, albums[a].listed));
            for (int p = 0; albums[a].details && p < filled; ++p)
                ASSERT_EQ(reader.ReadPhotoInfo(dir / (album + "-info.xml"), i, p), 1);
        }
    }

    std::unique_ptr<AlbumCatalogue> catalogue = std::make_unique<AlbumCatalogue>();
    RestReader reader{*catalogue, "http://pics.test"};
    TempDir dir;
};

TEST_F(CatalogueTest, ASmallUserAfterALargeOneShowsNothingOfIt) {
    Load("large", {{3000, 3000, true, true},
                   {2000000000, 300, true, true},
                   {40, 40, true, true},
                   {700, 700, false, false},
                   {5, 5, true, true},
                   {12, 12, true, true}});
    EXPECT_EQ(catalogue->albums[0].photos[2999].url, "http://pics.test/large/large-a0-p2999");
    EXPECT_EQ(catalogue->albums[1].photos.highWater(), 300);  // what was listed, not what was announced
    // Records written outside the readers, as tests and tools do, must be emptied as well.
    catalogue->albums[3].photos[3050].secret = "large-direct";
    catalogue->albums[1499].photos[0].title = "large-direct";
    catalogue->albums[1499].title = "large-direct";

    // Fewer albums, and fewer photos in each; details without a description must not keep the old one.
    const std::vector<AlbumAnswer> small = {
        {5, 5, true, true}, {40, 10, true, false}, {0, 0, false, false}, {3, 3, false, false}};
    Load("small", small);

    ASSERT_EQ(catalogue->albumCount, 4);
    EXPECT_EQ(catalogue->photoTotal, 48);
    int written = 0;
    for (int a = 0; a < catalogue->albums.highWater(); ++a)
        written += catalogue->albums[a].photos.highWater();
    EXPECT_EQ(written, 5 + 10 + 3);  // the next load empties only these

    // Every field of every record holds the small user's text where that load filled it, else nothing.
    const AlbumCatalogue& c = *catalogue;  // reads must not raise the marks
    long wrong = 0;
    std::string firstWrong;
    const auto check = [&](const CompactText& field, bool filled, int a, int p, const char* name) {
        const bool ok =
            filled ? field.view().starts_with("small") || field.view().find("/small/") != std::string::npos
                   : field.empty();
        if (ok) return;
        if (wrong++ == 0) {
            firstWrong = "album " + std::to_string(a) + " photo " + std::to_string(p) + " " + name + ": '" +
                         field.str() + "'";
        }
    };
    for (int a = 0; a < 1600; ++a) {
        const AlbumInfo& album = c.albums[a];
        const bool listed = a < static_cast<int>(small.size());
        check(album.id, listed, a, -1, "id");
        check(album.title, listed, a, -1, "title");
        if (!listed) EXPECT_EQ(album.photoCount, 0) << a;
        const int filled = listed ? std::min(small[a].announced, small[a].listed) : 0;
        const bool details = listed && small[a].details;
        const bool description = details && small[a].description;
        for (int p = 0; p < 3100; ++p) {
            const PhotoInfo& photo = album.photos[p];
            check(photo.id, p < filled, a, p, "id");
            check(photo.title, p < filled, a, p, "title");
            check(photo.url, p < filled, a, p, "url");
            check(photo.secret, details && p < filled, a, p, "secret");
            check(photo.description, description && p < filled, a, p, "description");
        }
    }
    EXPECT_EQ(wrong, 0) << "first: " << firstWrong;
    EXPECT_EQ(c.albums[1].photos[9].url, "http://pics.test/small/small-a1-p9");
    EXPECT_EQ(c.albums[0].photos[4].description, "small-text");
}

}  // namespace
