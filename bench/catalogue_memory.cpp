// Resident memory of the catalogue: construct one and fill it with a 100-album x 100-photo load read
// from answer files, as an update does, or with a user's cache read as a rebuild reads it. Prints the
// growth of VmRSS.
// Usage: catalogue_memory [USER_FOLDER]   (USER_FOLDER: OUTPUT/USER of an update that read details)
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "catalogue/album_catalogue.h"
#include "catalogue/rest_reader.h"

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

void Write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

// The user's cached answers in a rebuild's order: the album list, each album's photos, their details.
void ReadCache(RestReader& reader, const AlbumCatalogue& catalogue, const std::filesystem::path& user,
               int& photos, int& details) {
    const std::filesystem::path rest = user / "rest";
    reader.ReadAlbumList((rest / "list.xml").string());
    for (int a = 0; a < catalogue.albumCount; ++a) {
        const AlbumInfo& album = catalogue.albums[a];
        const int listed = reader.ReadAlbumPhotos((rest / "albums" / (album.id.str() + ".xml")).string(), a);
        photos += listed;
        for (int p = 0; p < listed; ++p)
            details +=
                reader.ReadPhotoInfo((rest / "photos" / (album.photos[p].id.str() + ".xml")).string(), a, p);
    }
}

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: catalogue_memory [USER_FOLDER]\n");
        return 2;
    }
    if (argc == 2) {
        const long before = ResidentKiB();
        auto catalogue = std::make_unique<AlbumCatalogue>();
        RestReader reader(*catalogue, "http://photos.zorbi.example");
        int photos = 0, details = 0;
        ReadCache(reader, *catalogue, argv[1], photos, details);
        const long filled = ResidentKiB();
        std::printf("albums: %d photos: %d details: %d\n", catalogue->albumCount, photos, details);
        std::printf("catalogue_rss_mib: %.1f\n", (filled - before) / 1024.0);
        return 0;
    }

    constexpr int kAlbums = 100, kPhotos = 100;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("catalogue_memory-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);

    // The answers, written before measuring so their making does not count.
    std::string list = "<rsp stat=\"ok\"><albums>";
    for (int a = 0; a < kAlbums; ++a) {
        list += "<album id=\"7215760" + std::to_string(a) + "\" photos=\"100\"><title>相册 " +
                std::to_string(a) + " 西湖春色</title></album>";
        std::string photos = "<rsp stat=\"ok\"><album><photos>";
        for (int p = 0; p < kPhotos; ++p) {
            const std::string id = std::to_string(a * 1000 + p + 100000000);
            photos += "<photo id=\"" + id + "\" dir=\"2006/04/" + std::to_string(a) + "\" filename=\"" + id +
                      "_a1b2c3\" title=\"照片 " + std::to_string(p) + "\"/>";
        }
        Write(dir / ("album" + std::to_string(a) + ".xml"), photos + "</photos></album></rsp>");
    }
    Write(dir / "list.xml", list + "</albums></rsp>");
    Write(dir / "info.xml",
          "<rsp stat=\"ok\"><photo "
          "secret=\"9f8e7d6c5b\"><description>雪后的断桥，游人如织</description></photo></rsp>");

    const long before = ResidentKiB();
    auto catalogue = std::make_unique<AlbumCatalogue>();
    const long empty = ResidentKiB();
    RestReader reader(*catalogue, "http://photos.zorbi.example");
    reader.ReadAlbumList((dir / "list.xml").string());
    int photos = 0, details = 0;
    for (int a = 0; a < kAlbums; ++a) {
        photos += reader.ReadAlbumPhotos((dir / ("album" + std::to_string(a) + ".xml")).string(), a);
        for (int p = 0; p < kPhotos; ++p) details += reader.ReadPhotoInfo((dir / "info.xml").string(), a, p);
    }
    const long filled = ResidentKiB();
    std::filesystem::remove_all(dir);

    std::printf("albums: %d photos: %d details: %d\n", catalogue->albumCount, photos, details);
    std::printf("empty_catalogue_rss_mib: %.1f\n", (empty - before) / 1024.0);
    std::printf("catalogue_rss_mib: %.1f\n", (filled - before) / 1024.0);
    return 0;
}
