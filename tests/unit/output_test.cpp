#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "catalogue/album_catalogue.h"
#include "catalogue/zorbi_service.h"
#include "output/link_format.h"
#include "output/preview_page.h"
#include "output/report_writer.h"
#include "test_support.h"

namespace {

// A small catalogue: user "Alice", album 0 with two photos, album 1 without photos.
class OutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        catalogue->userName = "Alice";
        catalogue->albumCount = 2;
        AlbumInfo& album = catalogue->albums[0];
        album.id = "a1";
        album.title = G("西湖");
        album.photoCount = 2;
        album.listedCount = 2;
        album.photos[0].url = "H/a1/b2";
        album.photos[0].title = G("断桥");
        album.photos[0].description = "desc";
        album.photos[0].secret = "s1";
        album.photos[1].url = "H/a1/b3";
        catalogue->albums[1].id = "a2";
        catalogue->albums[1].title = "Empty";
    }
    const PhotoInfo& photo() const { return catalogue->albums[0].photos[0]; }

    std::unique_ptr<AlbumCatalogue> catalogue = std::make_unique<AlbumCatalogue>();
    TempDir dir;
};

TEST_F(OutputTest, SizesAndBuiltInTemplates) {
    EXPECT_EQ(SizeNames()[0], G("小图"));
    EXPECT_EQ(SizeNames()[3], G("原图"));
    EXPECT_EQ(ExpandTemplate(photo(), FormatTemplates()[1], 0), "[img]H/a1/b2/small.jpg[/img]\r\n");
    EXPECT_EQ(ExpandTemplate(photo(), FormatTemplates()[0], 3), "H/a1/b2/large.jpg\r\n");
    EXPECT_EQ(ExpandTemplate(photo(), FormatTemplates()[2], 1), "&ltimg src='H/a1/b2/medium.jpg'/&gt\r\n");
    EXPECT_EQ(
        ExpandTemplate(photo(), FormatTemplates()[3], 2),
        G("<p>编号:$no. <br>标题:断桥<br>描述:desc<br>地址:H/a1/b2/big.jpg<br><img src='H/a1/b2/big.jpg' "
          "ondblclick='javascript:clip(\"H/a1/b2/big.jpg\")'/></p>"));
}

TEST_F(OutputTest, SizeOutsideTheTableEmptiesOnlyTheAddress) {
    for (int size : {-1, 4}) {
        EXPECT_EQ(ExpandTemplate(photo(), "[$url|$title|$secret|$$url]", size), G("[|断桥|s1|$]"));
    }
}

TEST_F(OutputTest, VariablesAreReplacedInOrderAndValuesAreScannedOnlyByLaterOnes) {
    PhotoInfo p;
    p.url = "U";
    p.title = "T:$description $url";
    p.description = "D:$title $secret $no";
    p.secret = "S:$url";
    // "$url" in the title stays (replaced before); "$description" in it is replaced (after).
    EXPECT_EQ(ExpandTemplate(p, "$title", 0), "T:D:$title S:$url $no $url");
    EXPECT_EQ(ExpandTemplate(p, "$urlx $titles $nope $", 0),
              "U/small.jpgx T:D:$title S:$url $no $urls $nope $");
}

// Values that complete a name begun by a "$" of the template: the name is replaced as well.
TEST_F(OutputTest, ANameMadeOfTemplateTextAndAValueIsReplacedToo) {
    PhotoInfo p;
    p.url = "itle";
    p.title = "secret";
    p.description = "D";
    p.secret = "S";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"$t$url", "secret/small.jpg"},  // "$t" + "itle/small.jpg" names the title
        {"$$title", "S"},                // "$" + "secret" names the secret
        {"$$url|$no $", "$itle/small.jpg|$no $"},
        {"$d$title $x", "$dsecret $x"},
        {"$title$", "secret$"},
    };
    for (const auto& [templ, expanded] : cases) EXPECT_EQ(ExpandTemplate(p, templ, 0), expanded) << templ;
}

TEST_F(OutputTest, LinkListNumbersAfterExpansion) {
    catalogue->albums[0].photos[1].title = "has $no inside";
    EXPECT_EQ(BuildLinkList(catalogue->albums[0], "$no:$title|", 0),
              G("1:断桥|<br>\r\n2:has 2 inside|<br>\r\n"));
    EXPECT_EQ(BuildLinkList(catalogue->albums[0], "fixed", 0), "fixed<br>\r\nfixed<br>\r\n");
    EXPECT_EQ(BuildLinkList(catalogue->albums[1], "$url", 0), "");
}

TEST_F(OutputTest, IndexPageBytes) {
    WriteIndexPage(*catalogue, dir / "alice");  // missing folder: silently nothing
    std::filesystem::create_directories(dir / "alice");
    WriteIndexPage(*catalogue, dir / "alice");
    EXPECT_FALSE(Exists(dir / "alice/Alice_index.htm"));  // named after the folder
    EXPECT_EQ(ReadFile(dir / "alice/alice_index.htm"), ReadFile(DataFile("expected/alice_index.htm")));
}

TEST_F(OutputTest, AlbumPagesBytes) {
    catalogue->albums[0].photos[0].title = "t $no";
    WriteAlbumPages(catalogue->albums[0], dir.path(), "[$no] $title $url");
    // The page links its other sizes by the folder's path; "$no" in a title stays as it is.
    std::string expected = ReadFile(DataFile("expected/a1_2.htm"));
    for (size_t at; (at = expected.find("@FOLDER@")) != std::string::npos;)
        expected.replace(at, 8, dir.path());
    EXPECT_EQ(ReadFile(dir / "a1_2.htm"), expected);
    for (int j = 0; j < 4; ++j) EXPECT_TRUE(Exists(dir / ("a1_" + std::to_string(j) + ".htm")));

    WriteAlbumPages(catalogue->albums[1], dir.path(), "x");
    EXPECT_NE(ReadFile(dir / "a2_0.htm").find("</div>\r\n<div>\r\n</div>\r\n</body>"), std::string::npos);
}

TEST_F(OutputTest, ExistingLongerPageIsReplacedWhole) {
    WriteFile(dir / "a1_0.htm", std::string(100000, '#'));
    WriteAlbumPages(catalogue->albums[0], dir.path(), "x");
    EXPECT_EQ(ReadFile(dir / "a1_0.htm").find('#'), std::string::npos);
}

TEST_F(OutputTest, UnsafeAlbumIdsWriteNoPages) {
    for (const char* id : {"../escape", "a/b", "..", ".", "", "a b", "x\xCE\xF7"}) {
        catalogue->albums[0].id = id;
        WriteAlbumPages(catalogue->albums[0], dir / "user", "x");
    }
    std::filesystem::create_directories(dir / "user");
    catalogue->albums[0].id = "../escape";
    WriteAlbumPages(catalogue->albums[0], dir / "user", "x");
    EXPECT_FALSE(Exists(dir / "escape_0.htm"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "user"));
    EXPECT_TRUE(IsSafeFileId("72157600001@N01.x-y_z"));
    EXPECT_FALSE(IsSafeFileId(std::string(129, 'a')));
}

TEST_F(OutputTest, PreviewPageTextAndFile) {
    const std::string start =
        "<html><script type=\"text/javascript\">\r\n<!--\r\nfunction clip(str){\r\n"
        " clipboardData.setData('text',str); \r\n";
    const std::string end =
        "}\r\n //-->\r\n</script>\r\n <body><div align='center'><table><font size =2>\r\n";
    const std::string close = "</font></table></div></body></html>";
    EXPECT_EQ(BuildPreviewPage(*catalogue, 0, 0, "$url", false),
              start + end + "H/a1/b2/small.jpg<br>\r\nH/a1/b3/small.jpg<br>\r\n" + close);
    EXPECT_EQ(BuildPreviewPage(*catalogue, 1, 0, "$url", true),
              start + G(" alert('地址已复制，按Ctrl+V即可粘贴。');") + end + close);
    // Past the current albums: an empty list, not what an earlier load left there.
    catalogue->albums[2].photoCount = 1;
    EXPECT_EQ(BuildPreviewPage(*catalogue, 2, 0, "$url", false), start + end + close);
    EXPECT_EQ(BuildPreviewPage(*catalogue, -1, 0, "$url", false), start + end + close);

    const std::string page = BuildPreviewPage(*catalogue, 0, 2, FormatTemplates()[3], true);
    EXPECT_EQ(WritePreviewFile(dir.path(), page), dir / "temp.htm");
    EXPECT_EQ(ReadFile(dir / "temp.htm"), page);
    EXPECT_EQ(WritePreviewFile(dir / "missing", page), "");
}

}  // namespace

namespace {

// Texts from the service are data in the report pages, and as they are in the clipboard's lists.
TEST_F(OutputTest, ReportPagesEscapeServiceTextsAndListOnlyFilledRecords) {
    catalogue->userName = "<b>u";
    AlbumInfo& album = catalogue->albums[0];
    album.title = "<script>alert(1)</script>";
    album.photos[0].title = "a&b \"q\" 'x'";
    album.photoCount = 7;  // announces more than its photo list held
    catalogue->albums[1].id = "../../etc/passwd#";
    WriteIndexPage(*catalogue, dir.path());
    WriteAlbumPages(album, dir.path(), "$no $title|");
    const std::string index = ReadFile(IndexPagePath(dir.path()));
    EXPECT_NE(index.find("<title>&lt;b&gt;u</title>"), std::string::npos);
    EXPECT_NE(index.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_EQ(index.find("passwd"), std::string::npos);  // an unsafe id is listed without a link
    const std::string page = ReadFile(AlbumPagePath(dir.path(), "a1", 0));
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("<p>1 a&amp;b &quot;q&quot; &#39;x&#39;|</p>\r\n<p>2 |</p>\r\n</div>"),
              std::string::npos);
    EXPECT_EQ(BuildLinkList(album, "$no $title|", 0), "1 a&b \"q\" 'x'|<br>\r\n2 |<br>\r\n");
}

// A picture address in a report page is percent-encoded where it could end a string or an attribute,
// then escaped for HTML; the clipboard's lists keep it as it is.
TEST_F(OutputTest, ReportPagesEncodeAddressCharactersThatCouldEndAString) {
    const std::pair<const char*, const char*> cases[] = {
        {"a b", "a%20b"},
        {"a\"b", "a%22b"},
        {"a'b", "a%27b"},
        {"<a>", "%3Ca%3E"},
        {"a\\b", "a%5Cb"},
        {"a`b", "a%60b"},
        {"\r\n\t\x01\x7F", "%0D%0A%09%01%7F"},
        {"\xE4\xB8\xAD", "%E4%B8%AD"},
        {"{|}^", "%7B%7C%7D%5E"},
        {"h:8/-_.~?g=h&i=%41;,+*!$()@[]#s", "h:8/-_.~?g=h&amp;i=%41;,+*!$()@[]#s"}};
    for (const auto& [address, inPage] : cases) {
        PhotoInfo p;
        p.url = address;
        EXPECT_EQ(ExpandTemplate(p, "$url", 0, FieldText::HtmlEscaped), inPage + std::string("/small.jpg"));
        EXPECT_EQ(ExpandTemplate(p, "$url", 0), address + std::string("/small.jpg"));
    }
}

// The preview format's ondblclick in an album page: a string that holds no quote, backslash or
// character reference (which the browser would undo) cannot be closed by the address.
TEST_F(OutputTest, AddressInAnAlbumPageCannotCloseTheClipString) {
    catalogue->albums[0].photos[0].url = "H/d\");alert(1);//'\\";
    WriteAlbumPages(catalogue->albums[0], dir.path(), FormatTemplates()[3]);
    const std::string page = ReadFile(AlbumPagePath(dir.path(), "a1", 0));
    std::smatch call;
    ASSERT_TRUE(
        std::regex_search(page, call, std::regex(R"re(ondblclick='javascript:clip\("([^"\\&]*)"\)')re")));
    EXPECT_EQ(call[1], "H/d%22);alert(1);//%27%5C/small.jpg");
}

}  // namespace
