#include "catalogue/rest_reader.h"

#include <gtest/gtest.h>

#include <climits>

#include "test_support.h"

namespace {

class RestReaderTest : public ::testing::Test {
  protected:
    std::unique_ptr<AlbumCatalogue> catalogue = std::make_unique<AlbumCatalogue>();
    RestReader reader{*catalogue, "http://pics.test"};
    TempDir dir;
};

TEST_F(RestReaderTest, ReadErrorOutcomes) {
    EXPECT_EQ(reader.ReadError(DataFile("error.xml")), "User not found & gone");
    EXPECT_EQ(reader.ReadError(DataFile("error_other_case.xml")), "");
    EXPECT_EQ(reader.ReadError(DataFile("error_no_msg.xml")), "");
    EXPECT_EQ(reader.ReadError(DataFile("user.xml")), "");
    EXPECT_EQ(reader.ReadError(DataFile("empty.xml")), "");
    EXPECT_EQ(reader.ReadError(DataFile("broken.xml")), "");
    EXPECT_EQ(reader.ReadError(dir / "missing.xml"), "");
}

TEST_F(RestReaderTest, ReadErrorConvertsTheMessageToGbk) {
    WriteFile(dir / "e.xml", "<rsp stat=\"fail\"><x msg=\"用户不存在\"/></rsp>");
    EXPECT_EQ(reader.ReadError(dir / "e.xml"), G("用户不存在"));
}

TEST_F(RestReaderTest, ReadUserSetsIdAndServiceSpelling) {
    catalogue->userName = "alice";
    EXPECT_EQ(reader.ReadUser(DataFile("user.xml")), "10001@N01");
    EXPECT_EQ(catalogue->userId, "10001@N01");
    EXPECT_EQ(catalogue->userName, "Alice");

    catalogue->userName = "bob";
    EXPECT_EQ(reader.ReadUser(DataFile("user_no_name.xml")), "42@N07");
    EXPECT_EQ(catalogue->userName, "bob");  // no text: the name stays as chosen
}

TEST_F(RestReaderTest, ReadUserFailuresLeaveTheCatalogueAlone) {
    catalogue->userId = "kept";
    for (const char* file : {"user_missing.xml", "empty.xml", "broken.xml", "error.xml"}) {
        EXPECT_EQ(reader.ReadUser(DataFile(file)), "") << file;
    }
    EXPECT_EQ(reader.ReadUser(dir / "missing.xml"), "");
    EXPECT_EQ(catalogue->userId, "kept");
}

TEST_F(RestReaderTest, ReadAlbumListParsesCountsTheWayAtoiDoes) {
    ASSERT_EQ(reader.ReadAlbumList(DataFile("list.xml")), 5);
    const RecordTable<AlbumInfo>& albums = catalogue->albums;
    EXPECT_EQ(albums[0].id, "72157600001");
    EXPECT_EQ(albums[0].title, G("西湖春色"));
    EXPECT_EQ(albums[0].photoCount, 12);
    EXPECT_EQ(albums[1].photoCount, 12);        // "12abc"
    EXPECT_EQ(albums[1].title, "Trip ? 2006");  // no GBK form for the snowman
    EXPECT_EQ(albums[2].photoCount, 0);         // "abc"
    EXPECT_TRUE(albums[2].title.empty());       // empty title element: not written
    EXPECT_EQ(albums[3].photoCount, 0);         // absent
    EXPECT_EQ(albums[4].photoCount, 0);         // "  -3": negative counts are none
    EXPECT_EQ(catalogue->photoTotal, 24);
}

TEST_F(RestReaderTest, ANewListLeavesNothingOfTheLastOneBehind) {
    ASSERT_EQ(reader.ReadAlbumList(DataFile("list.xml")), 5);
    ASSERT_EQ(reader.ReadAlbumPhotos(DataFile("photos.xml"), 2), 0);
    catalogue->albums[2].photos[0].description = "earlier user's text";
    catalogue->albums[2].title = "earlier title";

    ASSERT_EQ(reader.ReadAlbumList(DataFile("list_small.xml")), 3);
    EXPECT_EQ(catalogue->albumCount, 3);
    EXPECT_EQ(catalogue->photoTotal, 10);  // 3 + 0 + 7, before any photo list
    EXPECT_EQ(catalogue->albums[2].title, "Third");
    EXPECT_TRUE(catalogue->albums[2].photos[0].description.empty());

    EXPECT_EQ(reader.ReadAlbumList(dir / "missing.xml"), 0);
    EXPECT_EQ(catalogue->albumCount, 0);
    EXPECT_EQ(catalogue->photoTotal, 0);
    EXPECT_EQ(reader.ReadAlbumList(DataFile("broken.xml")), 0);
}

TEST_F(RestReaderTest, NothingIsCutAndNoAnnouncedCountIsAllocated) {
    // 1,500 albums: the first announces more photos than an int holds, the second 2,000,000,000.
    std::string list = "<rsp><albums>";
    for (int i = 0; i < 1500; ++i) {
        const char* count = i == 0 ? "99999999999999999999" : i == 1 ? "2000000000" : "3000";
        list += "<album id=\"a" + std::to_string(i) + "\" photos=\"" + count + "\"/>";
    }
    WriteFile(dir / "list.xml", list + "</albums></rsp>");
    ASSERT_EQ(reader.ReadAlbumList(dir / "list.xml"), 1500);
    EXPECT_EQ(catalogue->albums[1499].id, "a1499");
    EXPECT_EQ(catalogue->albums[0].photoCount, INT_MAX);
    EXPECT_EQ(catalogue->photoTotal, INT_MAX);  // held there, not wrapped round

    const auto photoList = [](int photos) {
        std::string xml = "<rsp><album><photos>";
        for (int p = 0; p < photos; ++p) xml += "<photo id=\"p" + std::to_string(p) + "\"/>";
        return xml + "</photos></album></rsp>";
    };
    WriteFile(dir / "three.xml", photoList(3));
    WriteFile(dir / "many.xml", photoList(3001));
    EXPECT_EQ(reader.ReadAlbumPhotos(dir / "three.xml", 1), 3);
    EXPECT_EQ(reader.ReadAlbumPhotos(dir / "many.xml", 2), 3000);
    EXPECT_EQ(reader.ReadPhotoInfo(DataFile("info.xml"), 2, 2999), 1);
    EXPECT_EQ(catalogue->albums[2].photos[2999].secret, "9f8e7d");

    // Past the records held: refused for writing, empty for reading, and nothing grows.
    EXPECT_EQ(reader.ReadPhotoInfo(DataFile("info.xml"), 1, 3), 0);
    EXPECT_EQ(reader.ReadAlbumPhotos(dir / "many.xml", 1500), 0);
    const AlbumCatalogue& held = *catalogue;
    EXPECT_TRUE(held.albums[1500].photos[1999999999].id.empty());
    EXPECT_EQ(held.albums.highWater(), 1500);
    EXPECT_EQ(held.albums[1].photos.highWater(), 3);
}

TEST_F(RestReaderTest, ReadAlbumPhotosIsBoundByTheAnnouncedCount) {
    WriteFile(dir / "list.xml",
              "<rsp><albums><album id='a' photos='4'/><album id='b' photos='8'/>"
              "<album id='c' photos='2'/></albums></rsp>");
    ASSERT_EQ(reader.ReadAlbumList(dir / "list.xml"), 3);
    EXPECT_EQ(reader.ReadAlbumPhotos(DataFile("photos.xml"), 0), 4);  // holds 6, announced 4
    EXPECT_EQ(reader.ReadAlbumPhotos(DataFile("photos.xml"), 1), 6);  // holds fewer than announced
    EXPECT_EQ(reader.ReadAlbumPhotos(DataFile("photos.xml"), 2), 2);
    EXPECT_TRUE(catalogue->albums[0].photos[4].id.empty());

    const PhotoInfo& first = catalogue->albums[0].photos[0];
    EXPECT_EQ(first.id, "p1");
    EXPECT_EQ(first.url, "http://pics.test/2006/04/abc_1");
    EXPECT_EQ(first.title, G("断桥残雪"));
    EXPECT_TRUE(catalogue->albums[0].photos[2].title.empty());

    EXPECT_EQ(reader.ReadAlbumPhotos(DataFile("error.xml"), 0), 0);
    EXPECT_EQ(reader.ReadAlbumPhotos(dir / "missing.xml", 0), 0);
    EXPECT_EQ(reader.ReadAlbumPhotos(DataFile("photos.xml"), -1), 0);
    EXPECT_EQ(reader.ReadAlbumPhotos(DataFile("photos.xml"), 3), 0);  // past the list
}

TEST_F(RestReaderTest, PhotoWithoutDirAndFilenameHasTwoSlashes) {
    WriteFile(dir / "list.xml", "<rsp><albums><album id='a' photos='1'/></albums></rsp>");
    ASSERT_EQ(reader.ReadAlbumList(dir / "list.xml"), 1);
    ASSERT_EQ(reader.ReadAlbumPhotos(DataFile("photos_no_dir.xml"), 0), 1);
    EXPECT_EQ(catalogue->albums[0].photos[0].url, "http://pics.test//");
}

TEST_F(RestReaderTest, ReadPhotoInfoSetsSecretAndDescription) {
    PhotoInfo& photo = catalogue->albums[3].photos[5];
    EXPECT_EQ(reader.ReadPhotoInfo(DataFile("info.xml"), 3, 5), 1);
    EXPECT_EQ(photo.secret, "9f8e7d");
    EXPECT_EQ(photo.description, G("雪后的断桥"));

    EXPECT_EQ(reader.ReadPhotoInfo(DataFile("info_no_description.xml"), 3, 5), 1);
    EXPECT_EQ(photo.secret, "s2");
    EXPECT_EQ(photo.description, G("雪后的断桥"));  // empty element: kept

    EXPECT_EQ(reader.ReadPhotoInfo(DataFile("user.xml"), 3, 5), 0);
    EXPECT_EQ(reader.ReadPhotoInfo(DataFile("empty.xml"), 3, 5), 0);
    EXPECT_EQ(reader.ReadPhotoInfo(DataFile("info.xml"), 3, 6), 0);  // past the records held
    EXPECT_EQ(photo.secret, "s2");
}

}  // namespace

namespace {

std::string Nested(int levels, const std::string& inner) {
    std::string xml;
    for (int i = 0; i < levels; ++i) xml += "<e>";
    xml += inner;
    for (int i = 0; i < levels; ++i) xml += "</e>";
    return xml;
}

TEST(XmlNestingDepthTest, CountsOpenElementsOnly) {
    EXPECT_EQ(XmlNestingDepth("<a><b/><c x='>' y=\"/>\"><d></d></c></a>"), 3u);
    EXPECT_EQ(XmlNestingDepth("<?xml version='1.0'?><!-- <a><b><c> --><a><![CDATA[<x><y>]]></a>"), 1u);
    EXPECT_EQ(XmlNestingDepth(Nested(1000, "")), 1000u);
    EXPECT_EQ(XmlNestingDepth("<a><b"), 2u);  // cut short: counted, the parser refuses it later
}

TEST_F(RestReaderTest, DeeplyNestedOrHugeAnswersAreUnreadable) {
    WriteFile(dir / "deep.xml", "<rsp stat='fail'><err msg='deep'/>" + Nested(100000, "x") + "</rsp>");
    EXPECT_EQ(reader.ReadError(dir / "deep.xml"), "");
    EXPECT_EQ(reader.ReadAlbumList(dir / "deep.xml"), 0);

    WriteFile(dir / "fine.xml", "<rsp stat='fail'><err msg='fine'/>" + Nested(200, "x") + "</rsp>");
    EXPECT_EQ(reader.ReadError(dir / "fine.xml"), "fine");

    std::string huge = "<rsp stat='fail'><err msg='huge'/><pad>";
    huge.append(RestReader::kMaxAnswerBytes, ' ');
    WriteFile(dir / "huge.xml", huge + "</pad></rsp>");
    EXPECT_EQ(reader.ReadError(dir / "huge.xml"), "");
    EXPECT_EQ(reader.ReadError(DataFile("error.xml")), "User not found & gone");  // the reader recovers
}

// How a downloaded answer is judged before it may replace a cached one.
TEST(CheckAnswerTest, OkFailWithItsMessageOrUnreadable) {
    using Kind = RestReader::AnswerKind;
    const struct {
        std::string text;
        Kind kind;
        std::string message;
    } cases[] = {
        {"<?xml version='1.0' encoding='utf-8'?>\n<rsp stat='ok'><user id='1'/></rsp>", Kind::Ok, ""},
        {"<rsp stat='ok'>" + Nested(255, "") + "</rsp>", Kind::Ok, ""},
        {"<rsp stat='fail'><err code='1' msg='用户不存在'/></rsp>", Kind::Fail, G("用户不存在")},
        {"<rsp stat='fail'/>", Kind::Fail, ""},
        {"", Kind::Unreadable, ""},
        {"<html><body>502 Bad Gateway</body></html>", Kind::Unreadable, ""},
        {"<answer stat='ok'/>", Kind::Unreadable, ""},
        {"<rsp><user/></rsp>", Kind::Unreadable, ""},
        {"<rsp stat='OK'/>", Kind::Unreadable, ""},
        {"<rsp stat='ok'><albums><album id='1'", Kind::Unreadable, ""},
        {std::string("<rsp stat='ok'>\0</rsp>", 22), Kind::Unreadable, ""},
        {"<rsp stat='ok'>" + Nested(256, "") + "</rsp>", Kind::Unreadable, ""},
        {"<rsp stat='ok'>" + std::string(RestReader::kMaxAnswerBytes, ' ') + "</rsp>", Kind::Unreadable, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        std::string message;
        EXPECT_EQ(RestReader::CheckAnswer(c.text, &message), c.kind);
        EXPECT_EQ(message, c.message);
    }
}

}  // namespace
