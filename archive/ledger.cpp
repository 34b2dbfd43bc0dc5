#include "archive/ledger.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "platform/file_util.h"
#include "platform/text_format.h"

namespace {

// The first schema; every ledger is created through it and brought up to date by Migrate, so a new
// ledger and a migrated one are the same.
const char kSchema1[] = R"SQL(
CREATE TABLE albums(
  id TEXT PRIMARY KEY NOT NULL,
  position INTEGER NOT NULL DEFAULT 0,
  title TEXT NOT NULL DEFAULT '',
  photo_count INTEGER NOT NULL DEFAULT 0,
  first_seen TEXT NOT NULL,
  last_seen TEXT NOT NULL,
  seen_in INTEGER NOT NULL DEFAULT 0,
  removed_at TEXT);
CREATE TABLE photos(
  key INTEGER PRIMARY KEY,
  album TEXT NOT NULL,
  id TEXT NOT NULL,
  position INTEGER NOT NULL DEFAULT 0,
  title TEXT NOT NULL DEFAULT '',
  description TEXT NOT NULL DEFAULT '',
  secret TEXT NOT NULL DEFAULT '',
  address TEXT NOT NULL DEFAULT '',
  first_seen TEXT NOT NULL,
  last_seen TEXT NOT NULL,
  seen_in INTEGER NOT NULL DEFAULT 0,
  removed_at TEXT,
  UNIQUE(album, id));
CREATE TABLE pictures(
  photo TEXT NOT NULL,
  size INTEGER NOT NULL,
  bytes INTEGER NOT NULL,
  sha256 TEXT NOT NULL,
  stored_at TEXT NOT NULL,
  verified_at TEXT,
  PRIMARY KEY(photo, size)) WITHOUT ROWID;
CREATE TABLE runs(
  id INTEGER PRIMARY KEY,
  kind TEXT NOT NULL,
  started_at TEXT NOT NULL,
  ended_at TEXT,
  outcome TEXT,
  text TEXT,
  photos INTEGER, details INTEGER, pictures_new INTEGER, pictures_present INTEGER,
  pictures_failed INTEGER, removed_albums INTEGER, removed_photos INTEGER, problems INTEGER);
PRAGMA user_version = 1;
)SQL";

// Schema 2: picture dimensions for the gallery, the pictures that failed, and the search index over
// titles and descriptions (trigram: substrings of three characters or more, any script).
const char kSchema2[] = R"SQL(
ALTER TABLE pictures ADD COLUMN width INTEGER NOT NULL DEFAULT 0;
ALTER TABLE pictures ADD COLUMN height INTEGER NOT NULL DEFAULT 0;
CREATE TABLE failures(
  photo TEXT NOT NULL,
  size INTEGER NOT NULL,
  address TEXT NOT NULL,
  reason TEXT NOT NULL,
  at TEXT NOT NULL,
  PRIMARY KEY(photo, size)) WITHOUT ROWID;
CREATE INDEX photos_by_id ON photos(id);
CREATE VIRTUAL TABLE photo_text USING fts5(title, description, content='photos', content_rowid='key',
                                           tokenize='trigram');
CREATE TRIGGER photos_added AFTER INSERT ON photos BEGIN
  INSERT INTO photo_text(rowid, title, description) VALUES(new.key, new.title, new.description);
END;
CREATE TRIGGER photos_deleted AFTER DELETE ON photos BEGIN
  INSERT INTO photo_text(photo_text, rowid, title, description)
    VALUES('delete', old.key, old.title, old.description);
END;
CREATE TRIGGER photos_changed AFTER UPDATE OF title, description ON photos
  WHEN old.title IS NOT new.title OR old.description IS NOT new.description BEGIN
  INSERT INTO photo_text(photo_text, rowid, title, description)
    VALUES('delete', old.key, old.title, old.description);
  INSERT INTO photo_text(rowid, title, description) VALUES(new.key, new.title, new.description);
END;
INSERT INTO photo_text(photo_text) VALUES('rebuild');
PRAGMA user_version = 2;
)SQL";

// Schema 3: the ledger's own writes keep the search index, photo by photo (IndexPhoto). Done by
// triggers, every photo written cost several times as much: a trigger's write to the index runs in a
// savepoint of its own, at which FTS5 writes out what it had gathered. Photos are never deleted.
const char kSchema3[] = R"SQL(
DROP TRIGGER photos_added;
DROP TRIGGER photos_deleted;
DROP TRIGGER photos_changed;
PRAGMA user_version = 3;
)SQL";

std::string OpenFailure(const std::string& path, const std::string& reason) {
    return Format(GBK("备份记录文件无法打开：%s（%s）").c_str(), path.c_str(), reason.c_str());
}

// Why SQLite failed: the system's error when a system call failed (a full disk, a folder that cannot be
// written), else SQLite's own text.
std::string Reason(const std::exception& failure, const SQLite::Database* db, int systemError = 0) {
    if (db) systemError = sqlite3_system_errno(db->getHandle());
    return systemError ? SystemErrorText(systemError) : failure.what();
}

std::string Text(const SQLite::Column& column) {
    return column.isNull() ? std::string() : column.getString();
}

LedgerRun RunOf(SQLite::Statement& row) {
    LedgerRun run;
    run.id = row.getColumn(0).getInt64();
    run.kind = Text(row.getColumn(1));
    run.startedAt = Text(row.getColumn(2));
    run.endedAt = Text(row.getColumn(3));
    run.outcome = Text(row.getColumn(4));
    run.text.bytes = Text(row.getColumn(5));
    int* counts[] = {&run.counts.photos,          &run.counts.details,        &run.counts.picturesNew,
                     &run.counts.picturesPresent, &run.counts.picturesFailed, &run.counts.removedAlbums,
                     &run.counts.removedPhotos,   &run.counts.problems};
    for (int i = 0; i < 8; ++i) *counts[i] = row.getColumn(6 + i).getInt();
    return run;
}

const char kRunColumns[] =
    "id, kind, started_at, ended_at, outcome, text, photos, details, pictures_new, pictures_present, "
    "pictures_failed, removed_albums, removed_photos, problems";

const char kPhotoColumns[] =
    "p.album, p.id, p.position, p.title, p.description, p.secret, p.address, p.first_seen, p.last_seen, "
    "p.removed_at";

LedgerPhoto PhotoOf(SQLite::Statement& row) {
    LedgerPhoto photo;
    photo.album = Text(row.getColumn(0));
    photo.id = Text(row.getColumn(1));
    photo.position = row.getColumn(2).getInt();
    photo.title.bytes = Text(row.getColumn(3));
    photo.description.bytes = Text(row.getColumn(4));
    photo.secret = Text(row.getColumn(5));
    photo.address = Text(row.getColumn(6));
    photo.firstSeen = Text(row.getColumn(7));
    photo.lastSeen = Text(row.getColumn(8));
    photo.removedAt = Text(row.getColumn(9));
    return photo;
}

// Characters, not bytes, of a UTF-8 text.
size_t Utf8Length(std::string_view text) {
    return static_cast<size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The text as a LIKE pattern that matches it anywhere, its own % and _ taken literally.
std::string ContainsPattern(std::string_view text) {
    std::string pattern = "%";
    for (const char c : text) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern + "%";
}

}  // namespace

std::string Ledger::PathFor(std::string_view userFolder) {
    return JoinPath(userFolder, "archive.sqlite");
}

std::string Ledger::Now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::unique_ptr<Ledger> Ledger::Open(const std::string& path, std::string* error, bool create) {
    const std::string osPath = ToOsPath(path);
    struct stat info {};
    const bool exists = ::lstat(osPath.c_str(), &info) == 0;
    if (!exists && !create) {
        *error = OpenFailure(path, SystemErrorText(ENOENT));
        return nullptr;
    }
    if (!exists) {
        // Made here rather than by SQLite, so that it is the owner's alone: it holds photo secrets. Its
        // journal files take the same mode.
        const int fd = ::open(osPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            *error = OpenFailure(path, SystemErrorText(errno));
            return nullptr;
        }
        ::close(fd);
    } else if (!S_ISREG(info.st_mode)) {
        *error = OpenFailure(path, SystemErrorText(EINVAL));
        return nullptr;
    }
    std::unique_ptr<SQLite::Database> db;
    try {
        db = std::make_unique<SQLite::Database>(osPath, SQLite::OPEN_READWRITE | SQLite::OPEN_NOFOLLOW);
    } catch (const std::exception& failure) {
        *error = OpenFailure(path, Reason(failure, nullptr, errno));
        return nullptr;
    }
    try {
        db->setBusyTimeout(5000);
        // Reading the header and checking every page before anything is written: a damaged ledger is
        // reported and left exactly as it was.
        const int version = db->execAndGet("PRAGMA user_version").getInt();
        const std::string check = db->execAndGet("PRAGMA quick_check").getString();
        if (check != "ok") {
            *error = OpenFailure(path, check);
            return nullptr;
        }
        if (version > kSchemaVersion) {
            *error = OpenFailure(path, Format(GBK("版本%d比本程序新").c_str(), version));
            return nullptr;
        }
        if (version == 0 && db->execAndGet("SELECT count(*) FROM sqlite_schema").getInt() != 0) {
            *error = OpenFailure(path, GBK("不是备份记录文件"));
            return nullptr;
        }
        // WAL: a kill leaves the last commit, and readers (status, search) never block the update.
        db->exec("PRAGMA journal_mode=WAL");
        db->exec("PRAGMA synchronous=NORMAL");
        std::unique_ptr<Ledger> ledger(new Ledger(std::move(db), path));
        ledger->Migrate(version);
        if (ledger->failed()) {
            *error = OpenFailure(path, ledger->error_);
            return nullptr;
        }
        return ledger;
    } catch (const std::exception& failure) {
        *error = OpenFailure(path, Reason(failure, db.get()));
        return nullptr;
    }
}

Ledger::Ledger(std::unique_ptr<SQLite::Database> db, std::string path)
    : db_(std::move(db)), path_(std::move(path)) {}

Ledger::~Ledger() {
    if (inTransaction_) {
        try {
            db_->exec("ROLLBACK");
        } catch (const std::exception&) {
        }
    }
}

void Ledger::Migrate(int from) {
    // One transaction: a kill during a migration leaves the older schema, which is migrated again.
    try {
        SQLite::Transaction transaction(*db_);
        if (from < 1) db_->exec(kSchema1);
        if (from < 2) db_->exec(kSchema2);
        if (from < 3) db_->exec(kSchema3);
        transaction.commit();
    } catch (const std::exception& failure) {
        error_ = Reason(failure, db_.get());
    }
}

SQLite::Statement& Ledger::Prepared(const char* sql) {
    std::unique_ptr<SQLite::Statement>& statement = statements_[sql];
    if (!statement) {
        statement = std::make_unique<SQLite::Statement>(*db_, sql);
    } else {
        statement->reset();
        statement->clearBindings();
    }
    return *statement;
}

template <typename F>
void Ledger::Write(F&& write) {
    if (failed()) return;
    try {
        write();
    } catch (const std::exception& failure) {
        error_ =
            Format(GBK("无法写入文件：%s（%s）").c_str(), path_.c_str(), Reason(failure, db_.get()).c_str());
    }
}

template <typename T, typename F>
T Ledger::Read(T fallback, F&& read) {
    try {
        return read();
    } catch (const std::exception& failure) {
        if (error_.empty()) error_ = OpenFailure(path_, Reason(failure, db_.get()));
        return fallback;
    }
}

void Ledger::Begin() {
    Write([&] {
        db_->exec("BEGIN");
        inTransaction_ = true;
    });
}

bool Ledger::Commit() {
    if (inTransaction_ && failed()) {
        try {
            db_->exec("ROLLBACK");
        } catch (const std::exception&) {
        }
        inTransaction_ = false;
    }
    Write([&] {
        if (inTransaction_) db_->exec("COMMIT");
        inTransaction_ = false;
    });
    return !failed();
}

std::int64_t Ledger::StartRun(std::string_view kind) {
    std::int64_t id = 0;
    Write([&] {
        SQLite::Statement insert(*db_, "INSERT INTO runs(kind, started_at) VALUES(?, ?)");
        insert.bind(1, std::string(kind));
        insert.bind(2, Now());
        insert.exec();
        id = db_->getLastInsertRowid();
    });
    return id;
}

void Ledger::EndRun(std::int64_t run, std::string_view outcome, const RunCounts& counts,
                    const std::string& gbkText) {
    Write([&] {
        SQLite::Statement update(
            *db_,
            "UPDATE runs SET ended_at = ?, outcome = ?, text = ?, photos = ?, details = ?, "
            "pictures_new = ?, pictures_present = ?, pictures_failed = ?, removed_albums = ?, "
            "removed_photos = ?, problems = ? WHERE id = ?");
        update.bind(1, Now());
        update.bind(2, std::string(outcome));
        update.bind(3, GbkToUtf8(gbkText));
        const int values[] = {counts.photos,          counts.details,        counts.picturesNew,
                              counts.picturesPresent, counts.picturesFailed, counts.removedAlbums,
                              counts.removedPhotos,   counts.problems};
        for (int i = 0; i < 8; ++i) update.bind(4 + i, values[i]);
        update.bind(12, static_cast<std::int64_t>(run));
        update.exec();
    });
}

void Ledger::SeeAlbums(const AlbumCatalogue& catalogue, std::int64_t run) {
    Write([&] {
        SQLite::Statement upsert(
            *db_,
            "INSERT INTO albums(id, position, title, photo_count, first_seen, last_seen, seen_in) "
            "VALUES(?1, ?2, ?3, ?4, ?5, ?5, ?6) ON CONFLICT(id) DO UPDATE SET "
            "position = ?2, title = ?3, photo_count = ?4, last_seen = ?5, seen_in = ?6, "
            "removed_at = NULL");
        const std::string now = Now();
        for (int i = 0; i < catalogue.albumCount; ++i) {
            const AlbumInfo& album = catalogue.albums[i];
            if (album.id.empty()) continue;
            upsert.bind(1, album.id.str());
            upsert.bind(2, i);
            upsert.bind(3, GbkToUtf8(album.title.view()));
            upsert.bind(4, album.photoCount);
            upsert.bind(5, now);
            upsert.bind(6, static_cast<std::int64_t>(run));
            upsert.exec();
            upsert.reset();
        }
    });
}

Ledger::Removed Ledger::MarkAlbumsRemoved(std::int64_t run) {
    Removed marked;
    Write([&] {
        const std::string now = Now();
        SQLite::Statement albums(
            *db_, "UPDATE albums SET removed_at = ? WHERE removed_at IS NULL AND seen_in <> ?");
        albums.bind(1, now);
        albums.bind(2, static_cast<std::int64_t>(run));
        marked.albums = albums.exec();
        SQLite::Statement photos(*db_,
                                 "UPDATE photos SET removed_at = ?1 WHERE removed_at IS NULL AND album IN "
                                 "(SELECT id FROM albums WHERE removed_at = ?1)");
        photos.bind(1, now);
        marked.photos = photos.exec();
    });
    return marked;
}

std::optional<Ledger::PhotoText> Ledger::FindPhoto(const std::string& albumId, const std::string& photoId) {
    SQLite::Statement& find =
        Prepared("SELECT key, title, description FROM photos WHERE album = ? AND id = ?");
    find.bind(1, albumId);
    find.bind(2, photoId);
    std::optional<PhotoText> found;
    if (find.executeStep())
        found = PhotoText{find.getColumn(0).getInt64(), Text(find.getColumn(1)), Text(find.getColumn(2))};
    find.reset();
    return found;
}

void Ledger::IndexPhoto(const std::optional<PhotoText>& before, const PhotoText& after) {
    if (before && before->title == after.title && before->description == after.description) return;
    if (before) {
        SQLite::Statement& remove = Prepared(
            "INSERT INTO photo_text(photo_text, rowid, title, description) VALUES('delete', ?, ?, ?)");
        remove.bind(1, static_cast<std::int64_t>(before->key));
        remove.bind(2, before->title);
        remove.bind(3, before->description);
        remove.exec();
    }
    SQLite::Statement& add = Prepared("INSERT INTO photo_text(rowid, title, description) VALUES(?, ?, ?)");
    add.bind(1, static_cast<std::int64_t>(after.key));
    add.bind(2, after.title);
    add.bind(3, after.description);
    add.exec();
}

void Ledger::SeePhotos(const AlbumInfo& album, std::int64_t run) {
    Write([&] {
        SQLite::Statement& upsert = Prepared(
            "INSERT INTO photos(album, id, position, title, address, first_seen, last_seen, "
            "seen_in) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?6, ?7) ON CONFLICT(album, id) DO UPDATE "
            "SET position = ?3, title = ?4, address = ?5, last_seen = ?6, seen_in = ?7, "
            "removed_at = NULL");
        const std::string now = Now();
        const std::string albumId = album.id.str();
        const int listed = std::max(0, std::min(album.listedCount, album.photoCount));
        for (int j = 0; j < listed; ++j) {
            const PhotoInfo& photo = album.photos[j];
            if (photo.id.empty()) continue;
            const std::string id = photo.id.str(), title = GbkToUtf8(photo.title.view());
            const std::optional<PhotoText> before = FindPhoto(albumId, id);
            upsert.reset();
            upsert.bind(1, albumId);
            upsert.bind(2, id);
            upsert.bind(3, j);
            upsert.bind(4, title);
            upsert.bind(5, photo.url.str());
            upsert.bind(6, now);
            upsert.bind(7, static_cast<std::int64_t>(run));
            upsert.exec();
            const std::int64_t key = before ? before->key : db_->getLastInsertRowid();
            IndexPhoto(before, {key, title, before ? before->description : std::string()});
        }
    });
}

int Ledger::MarkPhotosRemoved(std::string_view albumId, std::int64_t run) {
    int marked = 0;
    Write([&] {
        SQLite::Statement& update = Prepared(
            "UPDATE photos SET removed_at = ? WHERE album = ? AND removed_at IS NULL AND seen_in <> ?");
        update.bind(1, Now());
        update.bind(2, std::string(albumId));
        update.bind(3, static_cast<std::int64_t>(run));
        marked = update.exec();
    });
    return marked;
}

void Ledger::SeeDetails(std::string_view albumId, const PhotoInfo& photo) {
    Write([&] {
        const std::optional<PhotoText> before = FindPhoto(std::string(albumId), photo.id.str());
        if (!before) return;
        const std::string description = GbkToUtf8(photo.description.view());
        SQLite::Statement& update = Prepared("UPDATE photos SET description = ?, secret = ? WHERE key = ?");
        update.bind(1, description);
        update.bind(2, photo.secret.str());
        update.bind(3, static_cast<std::int64_t>(before->key));
        update.exec();
        IndexPhoto(before, {before->key, before->title, description});
    });
}

void Ledger::RecordPicture(std::string_view photo, int size, std::int64_t bytes, std::string_view sha256) {
    Write([&] {
        // Dimensions belong to the bytes: other bytes make them unknown again.
        SQLite::Statement& upsert = Prepared(
            "INSERT INTO pictures(photo, size, bytes, sha256, stored_at, verified_at) "
            "VALUES(?1, ?2, ?3, ?4, ?5, ?5) ON CONFLICT(photo, size) DO UPDATE SET "
            "width = CASE WHEN sha256 = ?4 THEN width ELSE 0 END, "
            "height = CASE WHEN sha256 = ?4 THEN height ELSE 0 END, "
            "bytes = ?3, sha256 = ?4, stored_at = ?5, verified_at = ?5");
        upsert.bind(1, std::string(photo));
        upsert.bind(2, size);
        upsert.bind(3, static_cast<std::int64_t>(bytes));
        upsert.bind(4, std::string(sha256));
        upsert.bind(5, Now());
        upsert.exec();
    });
    ClearFailure(photo, size);
}

void Ledger::RecordVerified(std::string_view photo, int size) {
    Write([&] {
        SQLite::Statement& update =
            Prepared("UPDATE pictures SET verified_at = ? WHERE photo = ? AND size = ?");
        update.bind(1, Now());
        update.bind(2, std::string(photo));
        update.bind(3, size);
        update.exec();
    });
}

void Ledger::RecordDimensions(std::string_view photo, int size, int width, int height) {
    Write([&] {
        SQLite::Statement& update =
            Prepared("UPDATE pictures SET width = ?, height = ? WHERE photo = ? AND size = ?");
        update.bind(1, width);
        update.bind(2, height);
        update.bind(3, std::string(photo));
        update.bind(4, size);
        update.exec();
    });
}

void Ledger::RecordFailure(std::string_view photo, int size, std::string_view address,
                           std::string_view reason) {
    Write([&] {
        SQLite::Statement& upsert = Prepared(
            "INSERT OR REPLACE INTO failures(photo, size, address, reason, at) "
            "VALUES(?, ?, ?, ?, ?)");
        upsert.bind(1, std::string(photo));
        upsert.bind(2, size);
        upsert.bind(3, std::string(address));
        upsert.bind(4, GbkToUtf8(reason));
        upsert.bind(5, Now());
        upsert.exec();
    });
}

void Ledger::ClearFailure(std::string_view photo, int size) {
    Write([&] {
        SQLite::Statement& remove = Prepared("DELETE FROM failures WHERE photo = ? AND size = ?");
        remove.bind(1, std::string(photo));
        remove.bind(2, size);
        remove.exec();
    });
}

std::map<std::pair<std::string, int>, LedgerPicture> Ledger::Pictures() {
    using Map = std::map<std::pair<std::string, int>, LedgerPicture>;
    return Read(Map(), [&] {
        Map pictures;
        SQLite::Statement rows(
            *db_, "SELECT photo, size, bytes, sha256, stored_at, verified_at, width, height FROM pictures");
        while (rows.executeStep()) {
            LedgerPicture picture;
            picture.photo = Text(rows.getColumn(0));
            picture.size = rows.getColumn(1).getInt();
            picture.bytes = rows.getColumn(2).getInt64();
            picture.sha256 = Text(rows.getColumn(3));
            picture.storedAt = Text(rows.getColumn(4));
            picture.verifiedAt = Text(rows.getColumn(5));
            picture.width = rows.getColumn(6).getInt();
            picture.height = rows.getColumn(7).getInt();
            pictures.emplace(std::pair(picture.photo, picture.size), std::move(picture));
        }
        return pictures;
    });
}

std::vector<LedgerFailure> Ledger::Failures() {
    return Read(std::vector<LedgerFailure>(), [&] {
        std::vector<LedgerFailure> failures;
        SQLite::Statement rows(
            *db_, "SELECT photo, size, address, reason, at FROM failures ORDER BY at, photo, size");
        while (rows.executeStep()) {
            failures.push_back({Text(rows.getColumn(0)), rows.getColumn(1).getInt(), Text(rows.getColumn(2)),
                                Utf8ToGbk(Text(rows.getColumn(3))), Text(rows.getColumn(4))});
        }
        return failures;
    });
}

std::vector<LedgerAlbum> Ledger::Albums() {
    return Read(std::vector<LedgerAlbum>(), [&] {
        std::vector<LedgerAlbum> albums;
        SQLite::Statement rows(
            *db_,
            "SELECT id, title, position, photo_count, first_seen, last_seen, removed_at FROM albums "
            "ORDER BY removed_at IS NOT NULL, position, id");
        while (rows.executeStep()) {
            LedgerAlbum album;
            album.id = Text(rows.getColumn(0));
            album.title.bytes = Text(rows.getColumn(1));
            album.position = rows.getColumn(2).getInt();
            album.photoCount = rows.getColumn(3).getInt();
            album.firstSeen = Text(rows.getColumn(4));
            album.lastSeen = Text(rows.getColumn(5));
            album.removedAt = Text(rows.getColumn(6));
            albums.push_back(std::move(album));
        }
        return albums;
    });
}

std::vector<LedgerPhoto> Ledger::Photos() {
    return Read(std::vector<LedgerPhoto>(), [&] {
        std::vector<LedgerPhoto> photos;
        SQLite::Statement rows(*db_, std::string("SELECT ") + kPhotoColumns +
                                         " FROM photos p JOIN albums a ON a.id = p.album ORDER BY "
                                         "a.removed_at IS NOT NULL, a.position, a.id, p.position, "
                                         "p.removed_at IS NOT NULL, p.id");
        while (rows.executeStep()) photos.push_back(PhotoOf(rows));
        return photos;
    });
}

std::string Ledger::ChangeStamp() {
    // Every update run stamps what it saw with its id and the time; text lengths catch an edit within
    // a run.
    static const char kStamp[] = R"SQL(
SELECT (SELECT count(*) || ',' || ifnull(max(seen_in), 0) || ',' || ifnull(max(last_seen), '') || ',' ||
               count(removed_at) || ',' || ifnull(max(removed_at), '') || ',' || total(length(title))
        FROM albums) || ';' ||
       (SELECT count(*) || ',' || ifnull(max(seen_in), 0) || ',' || ifnull(max(last_seen), '') || ',' ||
               count(removed_at) || ',' || ifnull(max(removed_at), '') || ',' ||
               total(length(title) + length(description) + length(address))
        FROM photos) || ';' ||
       (SELECT count(*) || ',' || ifnull(max(stored_at), '') || ',' || total(bytes) || ',' || total(width) ||
               ',' || total(height)
        FROM pictures)
)SQL";
    return Read(std::string(), [&] { return db_->execAndGet(kStamp).getString(); });
}

std::optional<LedgerRun> Ledger::LastUpdateOf(const std::string& path) {
    try {
        SQLite::Database db(ToOsPath(path), SQLite::OPEN_READONLY | SQLite::OPEN_NOFOLLOW);
        db.setBusyTimeout(1000);
        SQLite::Statement row(db, std::string("SELECT ") + kRunColumns +
                                      " FROM runs WHERE kind = 'update' AND ended_at IS NOT NULL "
                                      "ORDER BY id DESC LIMIT 1");
        if (row.executeStep()) return RunOf(row);
    } catch (const std::exception&) {
        // No ledger, or none this program can read: nothing to show.
    }
    return std::nullopt;
}

LedgerStatus Ledger::Status(unsigned wantedSizes) {
    return Read(LedgerStatus(), [&] {
        LedgerStatus status;
        const auto lastRun = [&](const char* kinds) -> std::optional<LedgerRun> {
            SQLite::Statement row(*db_, std::string("SELECT ") + kRunColumns + " FROM runs WHERE kind IN (" +
                                            kinds + ") AND ended_at IS NOT NULL ORDER BY id DESC LIMIT 1");
            if (!row.executeStep()) return std::nullopt;
            return RunOf(row);
        };
        status.lastUpdate = lastRun("'update'");
        status.lastVerify = lastRun("'verify', 'repair'");
        status.albums = db_->execAndGet("SELECT count(*) FROM albums").getInt();
        status.albumsRemoved =
            db_->execAndGet("SELECT count(*) FROM albums WHERE removed_at IS NOT NULL").getInt();
        status.photos = db_->execAndGet("SELECT count(DISTINCT id) FROM photos").getInt();
        // A photo is gone from the service when no album lists it any more.
        status.photosRemoved = db_->execAndGet(
                                      "SELECT count(*) FROM (SELECT id FROM photos GROUP BY id "
                                      "HAVING count(removed_at) = count(*))")
                                   .getInt();
        SQLite::Statement stored(*db_, "SELECT count(*) FROM pictures WHERE size = ?");
        SQLite::Statement failed(*db_, "SELECT count(*) FROM failures WHERE size = ?");
        SQLite::Statement missing(
            *db_,
            "SELECT count(DISTINCT p.id) FROM photos p WHERE p.removed_at IS NULL "
            "AND NOT EXISTS (SELECT 1 FROM pictures q WHERE q.photo = p.id AND q.size = ?1) "
            "AND NOT EXISTS (SELECT 1 FROM failures f WHERE f.photo = p.id AND f.size = ?1)");
        for (int size = 0; size < 4; ++size) {
            for (SQLite::Statement* count : {&stored, &failed, &missing}) {
                count->reset();
                count->bind(1, size);
                count->executeStep();
            }
            status.sizes[size].stored = stored.getColumn(0).getInt();
            status.sizes[size].failed = failed.getColumn(0).getInt();
            if (wantedSizes & (1u << size)) status.sizes[size].missing = missing.getColumn(0).getInt();
        }
        return status;
    });
}

std::vector<SearchHit> Ledger::Search(std::string_view utf8Text, int limit) {
    return Read(std::vector<SearchHit>(), [&] {
        std::vector<SearchHit> hits;
        if (utf8Text.empty()) return hits;
        const std::string order =
            " ORDER BY a.removed_at IS NOT NULL, a.position, p.position, p.id LIMIT " + std::to_string(limit);
        const std::string select = std::string("SELECT ") + kPhotoColumns + ", a.title FROM ";
        // The trigram index finds substrings of three characters or more; shorter texts are looked for
        // row by row.
        const bool indexed = Utf8Length(utf8Text) >= 3;
        SQLite::Statement rows(
            *db_, indexed ? select +
                                "photo_text JOIN photos p ON p.key = photo_text.rowid LEFT JOIN albums a ON "
                                "a.id = p.album WHERE photo_text MATCH ?" +
                                order
                          : select +
                                "photos p LEFT JOIN albums a ON a.id = p.album WHERE p.title LIKE ?1 ESCAPE "
                                "'\\' OR p.description LIKE ?1 ESCAPE '\\'" +
                                order);
        if (indexed) {
            std::string phrase = "\"";
            for (const char c : utf8Text) phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
            rows.bind(1, phrase + "\"");
        } else {
            rows.bind(1, ContainsPattern(utf8Text));
        }
        while (rows.executeStep()) {
            SearchHit hit;
            hit.photo = PhotoOf(rows);
            hit.albumId = hit.photo.album;
            hit.albumTitle.bytes = Text(rows.getColumn(10));
            hits.push_back(std::move(hit));
        }
        return hits;
    });
}
