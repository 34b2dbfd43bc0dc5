#pragma once
// The catalogue of one Zorbi user: tables of albums and photos that grow to what the answers hold and
// are overwritten in place by every load. An album is passed as its index, a photo as album index plus
// photo index.
#include <string>
#include <vector>

#include "catalogue/compact_text.h"

// Records by index, as many as have been written. Writable access makes the record exist, with every
// one before it; reading past the records held gives an empty record, so a count an answer announces
// but does not fill costs nothing.
template <typename Record>
class RecordTable {
  public:
    RecordTable() = default;
    RecordTable(RecordTable&&) noexcept = default;  // copies are not needed and would be costly
    RecordTable& operator=(RecordTable&&) noexcept = default;

    // `i` is not negative.
    Record& operator[](int i) {
        if (i >= highWater()) records_.resize(static_cast<size_t>(i) + 1);
        return records_[static_cast<size_t>(i)];
    }
    const Record& operator[](int i) const {
        static const Record empty;
        return i >= 0 && i < highWater() ? records_[static_cast<size_t>(i)] : empty;
    }

    // The records held: one past the highest handed out for writing since the last Clear.
    int highWater() const { return static_cast<int>(records_.size()); }
    // Empties the table; its room stays for the next load.
    void Clear() { records_.clear(); }

  private:
    std::vector<Record> records_;
};

struct PhotoInfo {
    CompactText id;           // bytes of the service's answer
    CompactText description;  // GBK
    CompactText title;        // GBK
    CompactText url;          // picture host, "/", dir, "/", filename
    CompactText secret;       // bytes of the service's answer

    void Clear();
};

using PhotoRecords = RecordTable<PhotoInfo>;

struct AlbumInfo {
    CompactText id;       // bytes
    CompactText title;    // GBK
    int photoCount = 0;   // as the album list announces it (a negative count is 0)
    int listedCount = 0;  // photo records the album's photo list filled, 0 to photoCount
    PhotoRecords photos;  // grown to what the photo list held, never to the announced count

    // Empties the record and its photo records.
    void Clear();
};

struct AlbumCatalogue {
    int albumCount = 0;
    int photoTotal = 0;    // the announced counts' sum, held at INT_MAX should it pass it
    std::string userName;  // as chosen, then as the service spells it (bytes)
    std::string userId;
    RecordTable<AlbumInfo> albums;

    // Empties every album and sets both counts to 0; the user stays.
    void ClearAlbums();

    AlbumCatalogue() = default;
    AlbumCatalogue(const AlbumCatalogue&) = delete;
    AlbumCatalogue& operator=(const AlbumCatalogue&) = delete;
};
