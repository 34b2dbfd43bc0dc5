#include "output/image_files.h"

#include <fcntl.h>
#include <unistd.h>
#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/file_util.h"

namespace {

void StartVips() {
    static std::once_flag started;
    std::call_once(started, [] {
        VIPS_INIT("albumbrowser");
        // Every picture is read once: a cache would only hold memory and open files. Pictures are
        // worked on one per thread (ForEachInParallel), so libvips's own threads would only compete.
        vips_cache_set_max(0);
        vips_concurrency_set(1);
    });
}

// An image reference released on every path.
struct ImageRef {
    VipsImage* image = nullptr;
    ~ImageRef() {
        if (image) g_object_unref(image);
    }
};

// The loader's own header read: asking libvips to sniff the format tries every loader in turn, which
// costs several times the read itself.
int LoadHeader(const std::string& osPath, VipsImage** out) {
    char head[12] = {};
    const int fd = ::open(osPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    const std::string_view bytes(head, got > 0 ? static_cast<size_t>(got) : 0);
    if (bytes.substr(0, 3) == "\xFF\xD8\xFF")
        return vips_jpegload(osPath.c_str(), out, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (bytes.substr(0, 4) == "\x89PNG")
        return vips_pngload(osPath.c_str(), out, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (bytes.substr(0, 4) == "GIF8") return vips_gifload(osPath.c_str(), out, nullptr);
    if (bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "WEBP")
        return vips_webpload(osPath.c_str(), out, nullptr);
    *out = vips_image_new_from_file(osPath.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    return *out ? 0 : -1;
}

}  // namespace

std::optional<ImageSize> ReadImageSize(const std::string& path) {
    StartVips();
    ImageRef loaded;
    if (LoadHeader(ToOsPath(path), &loaded.image) != 0) {
        vips_error_clear();
        return std::nullopt;
    }
    ImageSize size{vips_image_get_width(loaded.image), vips_image_get_height(loaded.image)};
    if (vips_image_get_orientation_swap(loaded.image)) std::swap(size.width, size.height);
    if (size.width <= 0 || size.height <= 0) return std::nullopt;
    return size;
}

ImageSize ThumbnailSize(ImageSize source, int box) {
    if (source.width <= 0 || source.height <= 0) return {};
    // As libvips fits a picture into the box: one shrink factor for both sides, never below 1.
    const double shrink =
        std::max({1.0, static_cast<double>(source.width) / box, static_cast<double>(source.height) / box});
    return {std::max(1, static_cast<int>(std::lround(source.width / shrink))),
            std::max(1, static_cast<int>(std::lround(source.height / shrink)))};
}

bool MakeThumbnail(const std::string& source, const std::string& target, int box) {
    StartVips();
    ImageRef thumbnail, flat;
    void* buffer = nullptr;
    size_t length = 0;
    bool ok = vips_thumbnail(ToOsPath(source).c_str(), &thumbnail.image, box, "height", box, "size",
                             VIPS_SIZE_DOWN, nullptr) == 0;
    VipsImage* image = thumbnail.image;
    if (ok && vips_image_hasalpha(image)) {
        VipsArrayDouble* white = vips_array_double_newv(1, 255.0);
        ok = vips_flatten(image, &flat.image, "background", white, nullptr) == 0;
        vips_area_unref(VIPS_AREA(white));
        image = flat.image;
    }
    ok = ok && vips_jpegsave_buffer(image, &buffer, &length, "strip", TRUE, nullptr) == 0;
    ok = ok && WriteFileAtomic(target, std::string_view(static_cast<const char*>(buffer), length));
    g_free(buffer);
    if (!ok) vips_error_clear();
    return ok;
}

void ForEachInParallel(size_t count, const std::function<void(size_t)>& work) {
    const size_t threads = std::min<size_t>({count, std::max(1u, std::thread::hardware_concurrency()), 4});
    std::atomic<size_t> next{0};
    StartVips();
    const auto run = [&] {
        for (size_t i = next++; i < count; i = next++) work(i);
        // What libvips keeps for the thread goes with it.
        vips_thread_shutdown();
    };
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) helpers.emplace_back(run);
    run();
    for (std::thread& helper : helpers) helper.join();
}
