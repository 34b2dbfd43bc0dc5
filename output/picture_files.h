#pragma once
// The stored pictures as the gallery and the sidecars find them: USER/pictures/SIZE/PHOTOID.jpg.
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "output/link_format.h"

// The folder of a size under USER/pictures: small, medium, big, large for 0 to 3; empty otherwise.
std::string_view PictureFolderName(int sizeIndex);

// "pictures/SIZE/PHOTOID.jpg", joined with `separator`; empty for an id that fails IsSafeFileId or a
// size outside 0 to 3.
std::string RelativePicturePath(std::string_view photoId, int sizeIndex, char separator);

// Which pictures are on the disk, read with one listing per size folder rather than a look-up per
// picture.
class PicturesOnDisk {
  public:
    explicit PicturesOnDisk(std::string_view userFolder);
    // True when PHOTOID.jpg of the size is a regular file (and the id can name one).
    bool Has(std::string_view photoId, int sizeIndex) const;

  private:
    // Looked up by a view, without making a string for each picture.
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
    };
    std::unordered_set<std::string, Hash, std::equal_to<>> names_[SizeCount];  // PHOTOID of PHOTOID.jpg
};
