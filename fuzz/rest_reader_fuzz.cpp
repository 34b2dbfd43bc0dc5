// Every reader on the same arbitrary answer file, into one catalogue, in the workflow's order.
#include <unistd.h>

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
    FUZZ_CHECK(albums >= 0 && albums <= MaxAlbums);
    long total = 0;
    for (int i = 0; i < albums; ++i) {
        const int announced = catalogue->albums[i].photoCount;
        FUZZ_CHECK(announced >= 0 && announced <= MaxPhotosPerAlbum);
        total += announced;
        const int filled = reader->ReadAlbumPhotos(path, i);
        FUZZ_CHECK(filled >= 0 && filled <= announced);
    }
    FUZZ_CHECK(total == catalogue->photoTotal);
    // Indexes at and beyond the table edges must be refused, not followed.
    for (const int album : {-1, 0, albums, MaxAlbums - 1, MaxAlbums}) {
        for (const int photo : {-1, 0, MaxPhotosPerAlbum - 1, MaxPhotosPerAlbum}) {
            const int read = reader->ReadPhotoInfo(path, album, photo);
            FUZZ_CHECK(read == 0 || read == 1);
            const bool inside = album >= 0 && album < MaxAlbums && photo >= 0 && photo < MaxPhotosPerAlbum;
            FUZZ_CHECK(inside || read == 0);
        }
        const int filled = reader->ReadAlbumPhotos(path, album);
        FUZZ_CHECK(filled >= 0 && filled <= MaxPhotosPerAlbum);
    }
    std::remove(path.c_str());
    // The photo table lives in memory LeakSanitizer does not scan: texts left there would be reported
    // as leaks. Only the albums this input could have filled are emptied.
    for (int i = 0; i < albums; ++i) catalogue->albums[i].Clear();
    for (const int album : {0, albums, MaxAlbums - 1})
        if (album < MaxAlbums) catalogue->albums[album].Clear();
    return 0;
}
