// The ledger remembers what the service listed and what was stored, marks what the service removed,
// finds photos by their texts, and opens old and damaged files without harming them.
#include "archive/ledger.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/rest_reader.h"
#include "test_support.h"

namespace {

struct Album {
    std::string id, title;
    std::vector<std::string> photos;  // "id|title"
};

class LedgerTest : public ::testing::Test {
  protected:
    // Reads the albums into the catalogue through the answers, as an update would.
    void List(const std::vector<Album>& albums) {
        std::string list = "<rsp stat='ok'><albums>";
        for (const Album& album : albums)
            list += "<album id='" + album.id + "' photos='" + std::to_string(album.photos.size()) +
                    "'><title>" + album.title + "</title></album>";
        WriteFile(dir / "list.xml", list + "</albums></rsp>");
        reader.ReadAlbumList(dir / "list.xml");
        for (size_t a = 0; a < albums.size(); ++a) {
            std::string photos = "<rsp stat='ok'><album><photos>";
            for (const std::string& photo : albums[a].photos) {
                const size_t bar = photo.find('|');
                photos += "<photo id='" + photo.substr(0, bar) + "' dir='d' filename='f' title='" +
                          photo.substr(bar + 1) + "'/>";
            }
            WriteFile(dir / "photos.xml", photos + "</photos></album></rsp>");
            reader.ReadAlbumPhotos(dir / "photos.xml", static_cast<int>(a));
        }
    }
    // One complete update run of these albums.
    RunCounts Update(Ledger& ledger, const std::vector<Album>& albums) {
        List(albums);
        const std::int64_t run = ledger.StartRun("update");
        RunCounts counts;
        ledger.Begin();
        ledger.SeeAlbums(*catalogue, run);
        const Ledger::Removed removed = ledger.MarkAlbumsRemoved(run);
        counts.removedAlbums = removed.albums;
        counts.removedPhotos = removed.photos;
        for (int i = 0; i < catalogue->albumCount; ++i) {
            ledger.SeePhotos(catalogue->albums[i], run);
            counts.removedPhotos += ledger.MarkPhotosRemoved(catalogue->albums[i].id.view(), run);
        }
        EXPECT_TRUE(ledger.Commit()) << ledger.error();
        ledger.EndRun(run, "done", counts, G("完成"));
        return counts;
    }
    std::unique_ptr<Ledger> Open() {
        std::string error;
        auto ledger = Ledger::Open(path, &error);
        EXPECT_TRUE(ledger) << error;
        return ledger;
    }

    TempDir dir;
    std::string path = dir / "archive.sqlite";
    std::unique_ptr<AlbumCatalogue> catalogue = std::make_unique<AlbumCatalogue>();
    RestReader reader{*catalogue, "http://pictures"};
};

TEST_F(LedgerTest, RemovedOnTheServiceIsMarkedAndComesBack) {
    auto ledger = Open();
    const Album travel{"a1", "Travel", {"p1|Beach", "p2|Hill", "p3|Lake"}};
    const Album family{"a2", "Family", {"p4|Dinner"}};
    Update(*ledger, {travel, family});

    // p2 and the whole album a2 are gone from the service.
    RunCounts counts = Update(*ledger, {{"a1", "Travel", {"p1|Beach", "p3|Lake"}}});
    EXPECT_EQ(counts.removedAlbums, 1);
    EXPECT_EQ(counts.removedPhotos, 2);  // p2, and p4 with its album
    LedgerStatus status = ledger->Status(0);
    EXPECT_EQ(status.albums, 2);
    EXPECT_EQ(status.albumsRemoved, 1);
    EXPECT_EQ(status.photos, 4);
    EXPECT_EQ(status.photosRemoved, 2);
    ASSERT_TRUE(status.lastUpdate);
    EXPECT_EQ(status.lastUpdate->counts.removedPhotos, 2);

    // Albums still listed come first; the removed one stays, marked, with its photos.
    const std::vector<LedgerAlbum> albums = ledger->Albums();
    ASSERT_EQ(albums.size(), 2u);
    EXPECT_EQ(albums[0].id, "a1");
    EXPECT_TRUE(albums[0].removedAt.empty());
    EXPECT_EQ(albums[1].id, "a2");
    EXPECT_FALSE(albums[1].removedAt.empty());
    std::vector<std::string> order;
    for (const LedgerPhoto& photo : ledger->Photos())
        order.push_back(photo.id + (photo.removedAt.empty() ? "" : "-"));
    EXPECT_EQ(order, (std::vector<std::string>{"p1", "p3", "p2-", "p4-"}));

    // Back on the service: the marks go, and nothing is counted removed again.
    counts = Update(*ledger, {travel, family});
    EXPECT_EQ(counts.removedAlbums + counts.removedPhotos, 0);
    status = ledger->Status(0);
    EXPECT_EQ(status.albumsRemoved + status.photosRemoved, 0);
}

TEST_F(LedgerTest, PicturesFailuresAndWhatIsMissing) {
    auto ledger = Open();
    Update(*ledger, {{"a1", "A", {"p1|x", "p2|y", "p3|z"}}});
    ledger->Begin();
    ledger->RecordPicture("p1", 2, 100, "aa");
    ledger->RecordDimensions("p1", 2, 640, 480);
    ledger->RecordFailure("p2", 2, "http://pictures/d/f/big.jpg", G("服务器繁忙"));
    ASSERT_TRUE(ledger->Commit());
    LedgerStatus status = ledger->Status(1u << 2);
    EXPECT_EQ(status.sizes[2].stored, 1);
    EXPECT_EQ(status.sizes[2].failed, 1);
    EXPECT_EQ(status.sizes[2].missing, 1);  // p3
    EXPECT_EQ(status.sizes[0].missing, 0);  // not wanted
    ASSERT_EQ(ledger->Failures().size(), 1u);
    EXPECT_EQ(ledger->Failures()[0].reason, G("服务器繁忙"));

    // Stored after all: the failure goes. Other bytes make the dimensions unknown again.
    ledger->RecordPicture("p2", 2, 120, "bb");
    ledger->RecordPicture("p1", 2, 100, "cc");
    EXPECT_TRUE(ledger->Failures().empty());
    const auto pictures = ledger->Pictures();
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures.at({"p1", 2}).sha256, "cc");
    EXPECT_EQ(pictures.at({"p1", 2}).width, 0);
}

TEST_F(LedgerTest, ChangeStampFollowsWhatPagesShow) {
    auto ledger = Open();
    const std::vector<Album> both{{"a1", "A", {"p1|x", "p2|y"}}}, one{{"a1", "A", {"p1|x"}}};
    Update(*ledger, both);
    std::string stamp = ledger->ChangeStamp();
    ASSERT_FALSE(stamp.empty());
    ledger->Photos();
    EXPECT_EQ(ledger->ChangeStamp(), stamp) << "reads change nothing";
    PhotoInfo details;
    details.id = "p1";
    details.description = "longer text";
    const struct {
        const char* change;
        std::function<void()> make;
    } changes[] = {
        {"a run listing the same", [&] { Update(*ledger, both); }},
        {"a description", [&] { ledger->SeeDetails("a1", details); }},
        {"a removal", [&] { Update(*ledger, one); }},
        {"a picture", [&] { ledger->RecordPicture("p1", 0, 10, "aa"); }},
        {"its dimensions", [&] { ledger->RecordDimensions("p1", 0, 240, 180); }},
    };
    for (const auto& c : changes) {
        c.make();
        EXPECT_NE(ledger->ChangeStamp(), stamp) << c.change;
        stamp = ledger->ChangeStamp();
    }
}

TEST_F(LedgerTest, SearchFindsSubstringsInAnyScript) {
    auto ledger = Open();
    Update(*ledger, {{"a1", "Trip", {"p1|" + std::string("长城日出"), "p2|Sunset 100%_done", "p3|O\"Neil"}},
                     {"a2", "Gone", {"p4|" + std::string("长城夜景")}}});
    Update(*ledger, {{"a1", "Trip", {"p1|" + std::string("长城日出"), "p2|Sunset 100%_done", "p3|O\"Neil"}}});
    const auto ids = [&](const std::string& text) {
        std::string found;
        for (const SearchHit& hit : ledger->Search(text))
            found += hit.photo.id + (hit.photo.removedAt.empty() ? " " : "* ");
        return found;
    };
    const struct {
        std::string text, found;
    } cases[] = {
        {"长城", "p1 p4* "},  // two characters: looked for row by row; the removed album's photo too
        {"城日出", "p1 "},    // three: through the index
        {"sunset", "p2 "},    // ASCII case is ignored
        {"0%_", "p2 "},       // % and _ are plain characters
        {"%", "p2 "},         {"O\"N", "p3 "},  // a quote cannot break the query
        {"nothing here", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ids(c.text), c.found) << c.text;

    // Texts changed on the service are found by their new words only, and the index stays whole.
    Update(*ledger, {{"a1", "Trip", {"p1|" + std::string("黄山日出"), "p2|Sunset 100%_done", "p3|O\"Neil"}}});
    catalogue->albums[0].photos[1].description = G("海边的晚霞");
    ledger->SeeDetails("a1", catalogue->albums[0].photos[1]);
    EXPECT_EQ(ids("城日出"), "");
    EXPECT_EQ(ids("山日出"), "p1 ");
    EXPECT_EQ(ids("的晚霞"), "p2 ");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "INSERT INTO photo_text(photo_text, rank) VALUES('integrity-check', 1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

TEST_F(LedgerTest, OldLedgersMigrateDamagedOnesAreLeftAlone) {
    // Schema 1, as the first version wrote it, with one photo in it.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        const char* schema1 =
            "CREATE TABLE albums(id TEXT PRIMARY KEY NOT NULL, position INTEGER NOT NULL DEFAULT 0, title "
            "TEXT NOT "
            "NULL DEFAULT '', photo_count INTEGER NOT NULL DEFAULT 0, first_seen TEXT NOT NULL, last_seen "
            "TEXT NOT "
            "NULL, seen_in INTEGER NOT NULL DEFAULT 0, removed_at TEXT);"
            "CREATE TABLE photos(key INTEGER PRIMARY KEY, album TEXT NOT NULL, id TEXT NOT NULL, position "
            "INTEGER "
            "NOT NULL DEFAULT 0, title TEXT NOT NULL DEFAULT '', description TEXT NOT NULL DEFAULT '', "
            "secret TEXT "
            "NOT NULL DEFAULT '', address TEXT NOT NULL DEFAULT '', first_seen TEXT NOT NULL, last_seen TEXT "
            "NOT "
            "NULL, seen_in INTEGER NOT NULL DEFAULT 0, removed_at TEXT, UNIQUE(album, id));"
            "CREATE TABLE pictures(photo TEXT NOT NULL, size INTEGER NOT NULL, bytes INTEGER NOT NULL, "
            "sha256 TEXT "
            "NOT NULL, stored_at TEXT NOT NULL, verified_at TEXT, PRIMARY KEY(photo, size)) WITHOUT ROWID;"
            "CREATE TABLE runs(id INTEGER PRIMARY KEY, kind TEXT NOT NULL, started_at TEXT NOT NULL, "
            "ended_at "
            "TEXT, outcome TEXT, text TEXT, photos INTEGER, details INTEGER, pictures_new INTEGER, "
            "pictures_present INTEGER, pictures_failed INTEGER, removed_albums INTEGER, removed_photos "
            "INTEGER, "
            "problems INTEGER);"
            "INSERT INTO albums VALUES('a1', 0, 'Old', 1, 't', 't', 1, NULL);"
            "INSERT INTO photos(album, id, title, first_seen, last_seen) VALUES('a1', 'p1', 'Harbour "
            "lights', "
            "'t', 't');"
            "INSERT INTO pictures VALUES('p1', 0, 5, 'ab', 't', NULL);"
            "PRAGMA user_version = 1;";
        ASSERT_EQ(sqlite3_exec(db, schema1, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    {
        auto ledger = Open();
        ASSERT_TRUE(ledger);
        ASSERT_EQ(ledger->Search("bour").size(), 1u);  // indexed by the migration
        EXPECT_EQ(ledger->Pictures().at({"p1", 0}).bytes, 5);
        ledger->RecordFailure("p1", 1, "u", "HTTP 404");  // a table of schema 2
        EXPECT_TRUE(ledger->Commit());
    }

    // Not a ledger, a damaged one, a newer one: the text names the file, the bytes stay.
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"garbage", std::string(4096, 'x')},
        {"damaged", ReadFile(path).replace(4096, 100, std::string(100, '\xFF'))},
        {"newer", ""},
    };
    for (const auto& c : cases) {
        const std::string other = dir / (std::string(c.name) + ".sqlite");
        if (c.bytes.empty()) {
            sqlite3* db = nullptr;
            sqlite3_open(other.c_str(), &db);
            sqlite3_exec(db, "PRAGMA user_version = 99;", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        } else {
            WriteFile(other, c.bytes);
        }
        const std::string before = ReadFile(other);
        std::string error;
        EXPECT_FALSE(Ledger::Open(other, &error)) << c.name;
        EXPECT_NE(error.find(G("备份记录文件无法打开：") + other), std::string::npos) << c.name;
        EXPECT_EQ(ReadFile(other), before) << c.name;
    }
}

}  // namespace
