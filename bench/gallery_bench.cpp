// The gallery's figures on a made-up user of ALBUMS x PHOTOS photos whose small pictures are stored:
//   gallery_bench WORK ALBUMS PHOTOS THUMBS
// prints "name: value" lines and leaves WORK/output/big/gallery (for the browser's figure) and
// WORK/thumbsource, THUMBS big pictures (for vipsthumbnail's).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/ledger.h"
#include "jobs/picture_store.h"
#include "output/gallery.h"
#include "output/image_files.h"
#include "output/link_format.h"
#include "output/report_writer.h"
#include "platform/file_util.h"
#include "synthetic_user.h"

namespace fs = std::filesystem;

namespace {

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of `runs`, each after `prepare`.
double Best(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        prepare();
        best = std::min(best, Seconds(work));
    }
    return best;
}

void Check(const GalleryBuild& build) {
    if (!build.ok()) {
        std::fprintf(stderr, "gallery: %s\n", build.failure.c_str());
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: gallery_bench WORK ALBUMS PHOTOS THUMBS\n");
        return 2;
    }
    const std::string work = argv[1];
    const int albums = std::atoi(argv[2]), photos = std::atoi(argv[3]), thumbs = std::atoi(argv[4]);
    const auto catalogue = std::make_unique<AlbumCatalogue>();
    const std::string output = work + "/output";
    const std::string user = MakeBigUser(output, "big", albums, photos, 1u << 0, *catalogue);
    std::string error;
    const auto ledger = Ledger::Open(Ledger::PathFor(user), &error);
    if (!ledger) return std::fprintf(stderr, "%s\n", error.c_str()), 1;

    // The design's report pages of every album, linking the stored small pictures, into fresh files.
    const LocalPictureLink localLink = [&](std::string_view photoId, int size) {
        const LocalPicture local = LocalPicturePath(user, photoId, size);
        return size == 0 && local.present ? local.relativePath : std::string();
    };
    const double reportS = Best(
        3,
        [&] {
            for (const auto& entry : fs::directory_iterator(user))
                if (entry.path().extension() == ".htm") fs::remove(entry.path());
        },
        [&] {
            for (int i = 0; i < catalogue->albumCount; ++i)
                WriteAlbumPages(catalogue->albums[i], user, FormatTemplates()[PreviewFormatIndex], localLink);
        });

    // The first build reads every picture's dimensions; later ones find them in the ledger.
    GalleryBuild first;
    const double firstS = Seconds([&] { first = BuildGallery(user, "big", *ledger); });
    Check(first);
    const double buildS = Best(
        3, [&] { fs::remove_all(GalleryFolder(user)); }, [&] { Check(BuildGallery(user, "big", *ledger)); });
    const double repeatS = Best(
        5, [] {}, [&] { Check(BuildGallery(user, "big", *ledger)); });
    const auto pageBytes = fs::file_size(GalleryFolder(user) + "/album-al0.html");

    // Thumbnails of big pictures, as the gallery makes them where the small size is not stored.
    const std::string source = work + "/thumbsource", made = work + "/thumbs";
    fs::create_directories(source);
    fs::create_directories(made);
    const std::string big = MakePicture(1024, 768, 90);
    for (int i = 0; i < thumbs; ++i) WriteFileAtomic(source + "/" + std::to_string(i) + ".jpg", big);
    int failed = 0;
    const double thumbsS = Seconds([&] {
        ForEachInParallel(static_cast<size_t>(thumbs), [&](size_t i) {
            const std::string name = "/" + std::to_string(i) + ".jpg";
            if (!MakeThumbnail(source + name, made + name, 240)) ++failed;
        });
    });

    std::printf("photos: %d\n", albums * photos);
    std::printf("report_pages_s: %.3f\n", reportS);
    std::printf("gallery_first_build_s: %.3f\n", firstS);
    std::printf("gallery_first_dimensions_read: %d\n", first.dimensionsRead);
    std::printf("gallery_build_s: %.3f\n", buildS);
    std::printf("gallery_ratio_vs_report_pages: %.2f\n", buildS / reportS);
    std::printf("gallery_first_ratio_vs_report_pages: %.2f\n", firstS / reportS);
    std::printf("gallery_repeat_s: %.4f\n", repeatS);
    std::printf("album_page_html_bytes_per_photo: %.0f\n", static_cast<double>(pageBytes) / photos);
    std::printf("thumbs: %d\n", thumbs);
    std::printf("thumbs_failed: %d\n", failed);
    std::printf("thumbs_s: %.3f\n", thumbsS);
    std::printf("thumbs_per_s: %.1f\n", thumbs / thumbsS);
    return 0;
}
