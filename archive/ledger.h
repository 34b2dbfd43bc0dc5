#pragma once
// The archive ledger of one user, OUTPUT/USER/archive.sqlite: every album, photo and picture a backup
// has stored, what the service has since removed, and the runs. Texts are stored as UTF-8; writes take
// the catalogue's records (GBK), reads give UTF-8 (Utf8Text) for titles and descriptions.
//
// Writes never throw: the first failure is kept, later writes do nothing, and Commit reports it, so a
// job checks once per stage.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/album_catalogue.h"
#include "platform/codepage.h"

namespace SQLite {
class Database;
class Statement;
}  // namespace SQLite

// What a run did, as `status` and the window show it.
struct RunCounts {
    int photos = 0;           // photos read from the photo lists
    int details = 0;          // photos whose details were read
    int picturesNew = 0;      // pictures stored in this run
    int picturesPresent = 0;  // pictures there already
    int picturesFailed = 0;   // pictures not stored
    int removedAlbums = 0;    // albums found removed on the service in this run
    int removedPhotos = 0;    // photos found removed on the service in this run
    int problems = 0;         // verify: problems left at the end
};

struct LedgerRun {
    std::int64_t id = 0;
    std::string kind;       // "update", "verify" or "repair"
    std::string startedAt;  // UTC, "YYYY-MM-DDTHH:MM:SSZ"
    std::string endedAt;    // empty while running, or when the run was killed
    std::string outcome;    // "done", "pictures failed", "failed", "interrupted"; empty while running
    Utf8Text text;          // the run's final text
    RunCounts counts;
};

struct LedgerAlbum {
    std::string id;
    Utf8Text title;
    int position = 0;  // in the service's album list, from 0
    int photoCount = 0;
    std::string firstSeen, lastSeen, removedAt;  // removedAt empty while the service lists it
};

struct LedgerPhoto {
    std::string album;  // the album's id
    std::string id;
    int position = 0;  // in the album's photo list, from 0
    Utf8Text title, description;
    std::string secret;
    std::string address;  // the picture's base address (PhotoInfo::url)
    std::string firstSeen, lastSeen, removedAt;
};

struct LedgerPicture {
    std::string photo;
    int size = 0;  // 0..3
    std::int64_t bytes = 0;
    std::string sha256;  // lower-case hex
    std::string storedAt, verifiedAt;
    int width = 0, height = 0;  // 0 while unknown
};

struct LedgerFailure {
    std::string photo;
    int size = 0;
    std::string address;
    std::string reason;
    std::string at;
};

struct LedgerStatus {
    std::optional<LedgerRun> lastUpdate;  // the last update that ended
    std::optional<LedgerRun> lastVerify;  // the last verify or repair that ended
    int albums = 0, albumsRemoved = 0;
    int photos = 0, photosRemoved = 0;  // distinct photo ids
    struct Pictures {
        int stored = 0, missing = 0, failed = 0;
    } sizes[4];
};

struct SearchHit {
    std::string albumId;
    Utf8Text albumTitle;
    LedgerPhoto photo;
};

class Ledger {
  public:
    static constexpr int kSchemaVersion = 3;

    // USER/archive.sqlite.
    static std::string PathFor(std::string_view userFolder);

    // Opens the ledger at the GBK path, creating it when `create` is set and it is missing, and
    // brings an older schema up to date. Null, with *error set to "备份记录文件无法打开：%s（%s）"
    // (GBK), when it cannot be opened, is not a ledger, fails its check or is of a newer version; the
    // file is then left as it was.
    static std::unique_ptr<Ledger> Open(const std::string& path, std::string* error, bool create = true);
    // The last update that ended, read from the ledger at the GBK path without writing anything (no
    // check, no migration), for showing at a glance; nothing when there is none or it cannot be read.
    static std::optional<LedgerRun> LastUpdateOf(const std::string& path);
    ~Ledger();
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    // Everything written between Begin and Commit lands together. Commit returns false when anything
    // since the last successful commit failed (error() says what); the ledger is then unusable.
    void Begin();
    bool Commit();
    const std::string& error() const { return error_; }  // GBK
    bool failed() const { return !error_.empty(); }

    // Runs. StartRun records the start at once (outside any transaction).
    std::int64_t StartRun(std::string_view kind);
    void EndRun(std::int64_t run, std::string_view outcome, const RunCounts& counts,
                const std::string& gbkText);

    // An update's records. See* write what the service listed in run `run`; Mark*Removed mark what a
    // complete list no longer has and return how many were newly marked. A record seen again loses its
    // mark.
    struct Removed {
        int albums = 0, photos = 0;
    };
    void SeeAlbums(const AlbumCatalogue& catalogue, std::int64_t run);
    // Albums the list no longer has, and their photos with them.
    Removed MarkAlbumsRemoved(std::int64_t run);
    void SeePhotos(const AlbumInfo& album, std::int64_t run);
    int MarkPhotosRemoved(std::string_view albumId, std::int64_t run);
    // The details of one listed photo, read in this run.
    void SeeDetails(std::string_view albumId, const PhotoInfo& photo);

    // Pictures: stored (or adopted) now, checked now, failed now.
    void RecordPicture(std::string_view photo, int size, std::int64_t bytes, std::string_view sha256);
    void RecordVerified(std::string_view photo, int size);
    void RecordDimensions(std::string_view photo, int size, int width, int height);
    void RecordFailure(std::string_view photo, int size, std::string_view address, std::string_view reason);
    void ClearFailure(std::string_view photo, int size);

    // Reads.
    std::map<std::pair<std::string, int>, LedgerPicture> Pictures();
    std::vector<LedgerFailure> Failures();
    // Albums in list order, those removed on the service last.
    std::vector<LedgerAlbum> Albums();
    // Photos of every album, by album (as Albums orders them), then position.
    std::vector<LedgerPhoto> Photos();
    // `wantedSizes`: bit i for size i; only these count missing pictures.
    LedgerStatus Status(unsigned wantedSizes);
    // Photos whose title or description holds the UTF-8 text (case-insensitive for ASCII).
    std::vector<SearchHit> Search(std::string_view utf8Text, int limit = 1000);
    // A short text that changes whenever a run, a text, a removal mark, a picture or its dimensions
    // change, read without going through the rows one by one: what is built from the ledger is due
    // again only when it differs.
    std::string ChangeStamp();

    // The current time as the ledger writes it.
    static std::string Now();

  private:
    explicit Ledger(std::unique_ptr<SQLite::Database> db, std::string path);
    void Migrate(int from);
    // The statement of this text (a literal), prepared once and kept for the writes that come often:
    // reset, its bindings cleared.
    SQLite::Statement& Prepared(const char* sql);
    // A photo's row and the texts the search index holds for it.
    struct PhotoText {
        std::int64_t key = 0;
        std::string title, description;  // UTF-8
    };
    std::optional<PhotoText> FindPhoto(const std::string& albumId, const std::string& photoId);
    // Brings the search index from the photo's texts before (none for a new photo) to those after.
    void IndexPhoto(const std::optional<PhotoText>& before, const PhotoText& after);
    template <typename F>
    void Write(F&& write);
    template <typename T, typename F>
    T Read(T fallback, F&& read);

    std::unique_ptr<SQLite::Database> db_;
    std::map<const char*, std::unique_ptr<SQLite::Statement>> statements_;  // by the text's address
    std::string path_;                                                      // GBK, for texts
    std::string error_;
    bool inTransaction_ = false;
};
