#include "synthetic_user.h"

#include <optional>
#include <stdexcept>
#include <vector>
#include <vips/vips8>

#include "archive/file_digest.h"
#include "archive/ledger.h"
#include "output/picture_files.h"
#include "platform/codepage.h"
#include "platform/file_util.h"

namespace {

struct Photo {
    std::string id, title, description;
    std::vector<std::pair<int, std::string>> pictures;  // size, bytes
};
struct Album {
    std::string id, title;
    std::vector<Photo> photos;
};

std::unique_ptr<Ledger> OpenLedger(const std::string& userFolder) {
    std::string error;
    auto ledger = Ledger::Open(Ledger::PathFor(userFolder), &error);
    if (!ledger) throw std::runtime_error(error);
    return ledger;
}

void Fill(AlbumCatalogue& catalogue, const std::vector<Album>& albums) {
    catalogue.ClearAlbums();
    catalogue.albumCount = static_cast<int>(albums.size());
    for (size_t a = 0; a < albums.size(); ++a) {
        AlbumInfo& album = catalogue.albums[a];
        album.id = albums[a].id;
        album.title = Utf8ToGbk(albums[a].title);
        album.photoCount = album.listedCount = static_cast<int>(albums[a].photos.size());
        for (size_t p = 0; p < albums[a].photos.size(); ++p) {
            const Photo& photo = albums[a].photos[p];
            PhotoInfo& info = album.photos[static_cast<int>(p)];
            info.id = photo.id;
            info.title = Utf8ToGbk(photo.title);
            info.description = Utf8ToGbk(photo.description);
            info.url = "http://photos.zorbi.example/d/" + photo.id;
        }
        catalogue.photoTotal += album.photoCount;
    }
}

// One update run that lists these albums, as the update records it.
void Run(Ledger& ledger, AlbumCatalogue& catalogue, const std::vector<Album>& albums) {
    Fill(catalogue, albums);
    const std::int64_t run = ledger.StartRun("update");
    ledger.Begin();
    ledger.SeeAlbums(catalogue, run);
    ledger.MarkAlbumsRemoved(run);
    for (int a = 0; a < catalogue.albumCount; ++a) {
        const AlbumInfo& album = catalogue.albums[a];
        ledger.SeePhotos(album, run);
        ledger.MarkPhotosRemoved(album.id.view(), run);
        for (int p = 0; p < album.listedCount; ++p) ledger.SeeDetails(album.id.view(), album.photos[p]);
    }
    if (!ledger.Commit()) throw std::runtime_error(ledger.error());
    ledger.EndRun(run, "done", {}, "");
}

// Writes the picture and records it; `digest` is the bytes' own when known already.
FileDigest StorePicture(Ledger& ledger, const std::string& userFolder, const std::string& photo, int size,
                        const std::string& bytes, std::optional<FileDigest> digest = std::nullopt) {
    const std::string path = JoinPath(userFolder, RelativePicturePath(photo, size, '/'));
    MakeDirectories(path.substr(0, path.rfind('/')));
    if (!WriteFileAtomic(path, bytes)) throw std::runtime_error("cannot write " + path);
    if (!digest) digest = DigestFile(path);
    ledger.RecordPicture(photo, size, digest->bytes, digest->sha256);
    return *digest;
}

}  // namespace

std::string MakePicture(int width, int height, double hue, bool png) {
    if (VIPS_INIT("synthetic_user") != 0) throw std::runtime_error("libvips does not start");
    const vips::VImage xy = vips::VImage::xyz(width, height);
    const vips::VImage rgb = (xy[0] * (200.0 / width) + 30)
                                 .bandjoin(xy[1] * (200.0 / height) + 30)
                                 .bandjoin(xy[0] * 0 + hue)
                                 .cast(VIPS_FORMAT_UCHAR);
    void* buffer = nullptr;
    size_t length = 0;
    rgb.write_to_buffer(png ? ".png" : ".jpg", &buffer, &length);
    std::string bytes(static_cast<const char*>(buffer), length);
    g_free(buffer);
    return bytes;
}

std::string MakeSampleUser(const std::string& outputFolder) {
    const std::string userFolder = JoinPath(outputFolder, "alice");
    MakeDirectories(userFolder);
    const std::string small = MakePicture(240, 180, 60), big = MakePicture(1024, 768, 60);
    const std::string tallSmall = MakePicture(180, 240, 200), medium = MakePicture(375, 500, 200);
    const std::vector<Album> albums = {
        {"a1",
         "旅行 Travel",
         {{"p101", "海边 Beach", "第一天\n早上", {{0, small}, {2, big}}},
          {"p102", "<script>window.injected = 1</script>", "\"quoted\" & <b>bold</b>", {{0, small}}},
          {"p103", "山 Hill", "", {{0, small}, {2, big}}},
          {"p105", "湖 Lake", "A PNG picture", {{2, MakePicture(800, 600, 140, true)}}}}},
        {"a2",
         "家庭 Family",
         {{"p201", "晚餐 Dinner", "", {{0, tallSmall}, {1, medium}}},
          {"p202", "生日 Birthday", "Cake", {{0, tallSmall}, {1, medium}}},
          {"p203", "公园 Park", "", {{0, tallSmall}, {1, medium}}}}},
        {"a3",
         "旧相册 Old",
         {{"p301", "旧照片 Old one", "", {{0, small}}}, {"p302", "旧照片 Two", "", {{0, small}}}}},
        {"bad/../id", "Unsafe id", {{"x y", "Unsafe photo", "", {}}}},
    };
    auto ledger = OpenLedger(userFolder);
    AlbumCatalogue catalogue;
    Run(*ledger, catalogue, albums);
    ledger->Begin();
    for (const Album& album : albums)
        for (const Photo& photo : album.photos)
            for (const auto& [size, bytes] : photo.pictures)
                StorePicture(*ledger, userFolder, photo.id, size, bytes);
    if (!ledger->Commit()) throw std::runtime_error(ledger->error());
    return userFolder;
}

std::string MakeBigUser(const std::string& outputFolder, const std::string& name, int albums, int photos,
                        unsigned sizes, AlbumCatalogue& catalogue) {
    const std::string userFolder = JoinPath(outputFolder, name);
    MakeDirectories(userFolder);
    std::vector<Album> list(static_cast<size_t>(albums));
    for (int a = 0; a < albums; ++a) {
        list[a] = {"al" + std::to_string(a), "Album " + std::to_string(a), {}};
        for (int p = 0; p < photos; ++p) {
            const std::string id = std::to_string(1000000 + a * photos + p);
            list[a].photos.push_back({id, "Photo " + id, "Description of photo " + id, {}});
        }
    }
    auto ledger = OpenLedger(userFolder);
    Run(*ledger, catalogue, list);
    const int widths[] = {240, 500, 1024, 1600};
    ledger->Begin();
    for (int size = 0; size < 4; ++size) {
        if (!(sizes & (1u << size))) continue;
        const std::string bytes = MakePicture(widths[size], widths[size] * 3 / 4, 40.0 * size);
        std::optional<FileDigest> digest;
        for (const Album& album : list)
            for (const Photo& photo : album.photos)
                digest = StorePicture(*ledger, userFolder, photo.id, size, bytes, digest);
    }
    if (!ledger->Commit()) throw std::runtime_error(ledger->error());
    return userFolder;
}
