// A ledger of 100,000 photos (100 albums of 1,000, each photo with a title, a description and one
// picture) built through the Ledger API, then searched. Prints the time to build it, its size per
// 1,000 photos, and the time of a search by the index (three characters or more, many hits and one
// hit) and row by row (two characters); search_ms is the slowest of the three.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "archive/ledger.h"
#include "catalogue/album_catalogue.h"
#include "platform/codepage.h"

namespace {

constexpr int kAlbums = 100, kPhotosPerAlbum = 1000;

const char* const kPlaces[] = {"西湖", "故宫", "黄山", "长城", "厦门",
                               "苏州", "桂林", "丽江", "青岛", "成都"};
const char* const kWords[] = {"清晨", "远眺", "合影", "小路", "细节", "傍晚", "回望", "留念"};
const char* const kSentences[] = {"三月的杭州，桃花开满苏堤。", "天气很好，光线柔和。",
                                  "人很多，等了很久才拍到。",   "用三脚架拍的。",
                                  "颜色没有调整过。",           "下次还要再来！"};

double Milliseconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The median time of a few runs of the search, and its hits.
double SearchMs(Ledger& ledger, const std::string& text, size_t& hits) {
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        hits = ledger.Search(text).size();
        times.push_back(Milliseconds(std::chrono::steady_clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    char folder[] = "/tmp/ledger-search-XXXXXX";
    if (!::mkdtemp(folder)) return 1;
    const std::string path = std::string(folder) + "/archive.sqlite";

    auto catalogue = std::make_unique<AlbumCatalogue>();
    catalogue->albumCount = kAlbums;
    for (int a = 0; a < kAlbums; ++a) {
        AlbumInfo& album = catalogue->albums[a];
        album.id = "72157" + std::to_string(100000 + a);
        album.title = Utf8ToGbk(std::string(kPlaces[a % 10]) + " " + std::to_string(a));
        album.photoCount = album.listedCount = kPhotosPerAlbum;
        for (int p = 0; p < kPhotosPerAlbum; ++p) {
            PhotoInfo& photo = album.photos[p];
            const int n = a * kPhotosPerAlbum + p;
            photo.id = std::to_string(1000000000 + n);
            photo.title = Utf8ToGbk(std::string(kPlaces[n % 10]) + kWords[n % 8]);
            photo.url = "http://photos.zorbi.example/" + std::to_string(1000 + n % 9000) + "/" +
                        photo.id.str() + "_s";
            photo.secret = "0123abcd";
            char number[16];
            std::snprintf(number, sizeof number, "%05d", n);
            photo.description = Utf8ToGbk(std::string(kSentences[n % 6]) + "编号" + number);
        }
    }

    std::string error;
    const auto start = std::chrono::steady_clock::now();
    {
        std::unique_ptr<Ledger> ledger = Ledger::Open(path, &error);
        if (!ledger) {
            std::fprintf(stderr, "%s\n", GbkToUtf8(error).c_str());
            return 1;
        }
        const std::int64_t run = ledger->StartRun("update");
        ledger->Begin();
        ledger->SeeAlbums(*catalogue, run);
        for (int a = 0; a < kAlbums; ++a) {
            const AlbumInfo& album = catalogue->albums[a];
            ledger->SeePhotos(album, run);
            for (int p = 0; p < kPhotosPerAlbum; ++p) {
                ledger->SeeDetails(album.id.view(), album.photos[p]);
                ledger->RecordPicture(album.photos[p].id.view(), 2, 200 * 1024, std::string(64, 'a' + p % 6));
            }
        }
        ledger->EndRun(run, "done", RunCounts{}, "");
        if (!ledger->Commit()) {
            std::fprintf(stderr, "%s\n", GbkToUtf8(ledger->error()).c_str());
            return 1;
        }
    }  // closed: the write-ahead log is folded into the file
    const double buildMs = Milliseconds(std::chrono::steady_clock::now() - start);
    struct stat info {};
    ::stat(path.c_str(), &info);

    std::unique_ptr<Ledger> ledger = Ledger::Open(path, &error, false);
    if (!ledger) return 1;
    size_t commonHits = 0, rareHits = 0, shortHits = 0;
    const double common = SearchMs(*ledger, "桃花开", commonHits);
    const double rare = SearchMs(*ledger, "编号04217", rareHits);
    const double brief = SearchMs(*ledger, "苏堤", shortHits);
    ledger.reset();

    const int photos = kAlbums * kPhotosPerAlbum;
    std::printf("photos: %d\n", photos);
    std::printf("ledger_build_s: %.2f\n", buildMs / 1000);
    std::printf("ledger_kib_per_1000_photos: %.1f\n",
                static_cast<double>(info.st_size) / 1024 / (photos / 1000.0));
    std::printf("search_common_ms: %.1f (%zu hits, at most 1000 returned)\n", common, commonHits);
    std::printf("search_rare_ms: %.1f (%zu hits)\n", rare, rareHits);
    std::printf("search_two_characters_ms: %.1f (%zu hits)\n", brief, shortHits);
    std::printf("search_ms: %.1f\n", std::max({common, rare, brief}));
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
    ::rmdir(folder);
    return 0;
}
