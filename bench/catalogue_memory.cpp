// Resident memory of the catalogue: construct one and fill it with a 100-album x 100-photo load read
// from answer files, as an update does. Prints the growth of VmRSS.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

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

// Resident and huge-page KiB of the photo table: the one mapping of exactly its size.
std::pair<long, long> PhotoTableKiB() {
    const long tableKiB = static_cast<long>(sizeof(PhotoInfo)) * MaxAlbums * MaxPhotosPerAlbum / 1024;
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inTable = false;
    long rss = -1, huge = -1;
    while (std::getline(smaps, line)) {
        long kib = 0;
        if (std::sscanf(line.c_str(), "Size: %ld kB", &kib) == 1) {
            inTable = kib == tableKiB;
        } else if (inTable && std::sscanf(line.c_str(), "Rss: %ld kB", &kib) == 1) {
            rss = kib;
        } else if (inTable && std::sscanf(line.c_str(), "AnonHugePages: %ld kB", &kib) == 1) {
            huge = kib;
        }
    }
    return {rss, huge};
}

void Write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

int main() {
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
    const auto [tableRss, tableHuge] = PhotoTableKiB();
    std::filesystem::remove_all(dir);

    std::printf("albums: %d photos: %d details: %d\n", catalogue->albumCount, photos, details);
    std::printf("empty_catalogue_rss_mib: %.1f\n", (empty - before) / 1024.0);
    std::printf("catalogue_rss_mib: %.1f\n", (filled - before) / 1024.0);
    // Of that, the photo table itself and the part of it mapped in huge pages.
    std::printf("photo_table_rss_mib: %.1f\n", tableRss / 1024.0);
    std::printf("photo_table_huge_pages_mib: %.1f\n", tableHuge / 1024.0);
    return 0;
}
