// Every reader on the same arbitrary answer file, into one catalogue, in the workflow's order.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

#include "catalogue/rest_reader.h"
#include "fuzz_check.h"

namespace {

std::string TemporaryFolder() {
    return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static AlbumCatalogue* catalogue = new AlbumCatalogue;
    static RestReader* reader = new RestReader(*catalogue, "http://pictures.test");
    static const std::string folder = TemporaryFolder();
    static unsigned long run = 0;
    // A new name for every input: the reader keeps a parsed file while its name and stamp stay the same.
    const std::string path =
        folder + "/rest-reader-fuzz-" + std::to_string(getpid()) + "-" + std::to_string(run++) + ".xml";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    reader->ReadError(path);
    reader->ReadUser(path);
    const int albums = reader->ReadAlbumList(path);
    FUZZ_CHECK(albums == catalogue->albumCount);
    // The tables grow to what the answer holds, never to a count it announces.
    FUZZ_CHECK(albums >= 0 && albums == catalogue->albums.highWater());
    long long total = 0;
    for (int i = 0; i < albums; ++i) {
        const int announced = catalogue->albums[i].photoCount;
        FUZZ_CHECK(announced >= 0);
        total += announced;
        const int filled = reader->ReadAlbumPhotos(path, i);
        FUZZ_CHECK(filled >= 0 && filled <= announced && filled == catalogue->albums[i].listedCount);
        FUZZ_CHECK(catalogue->albums[i].photos.highWater() == filled);
    }
    FUZZ_CHECK(std::min<long long>(total, INT_MAX) == catalogue->photoTotal);
    // Indexes at and beyond the records held must be refused, not followed.
    const AlbumCatalogue& held = *catalogue;
    for (const int album : {-1, 0, albums - 1, albums}) {
        const bool listed = album >= 0 && album < albums;
        const int photos = held.albums[album].photos.highWater();
        for (const int photo : {-1, 0, photos - 1, photos}) {
            const int read = reader->ReadPhotoInfo(path, album, photo);
            FUZZ_CHECK(read == 0 || read == 1);
            FUZZ_CHECK((listed && photo >= 0 && photo < photos) || read == 0);
        }
        const int filled = reader->ReadAlbumPhotos(path, album);
        FUZZ_CHECK(filled >= 0 && (listed || filled == 0));
    }
    FUZZ_CHECK(catalogue->albums.highWater() == albums);
    std::remove(path.c_str());
    return 0;
}
