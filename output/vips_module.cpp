#include "output/vips_module.h"

#include <fcntl.h>
#include <unistd.h>
#include <vips/vips.h>

#include <mutex>
#include <string_view>
#include <utility>

namespace {

// An image reference released on every path.
struct ImageRef {
    VipsImage* image = nullptr;
    ~ImageRef() {
        if (image) g_object_unref(image);
    }
};

// The loader's own header read: asking libvips to sniff the format tries every loader in turn, which
// costs several times the read itself.
int LoadHeader(const char* osPath, VipsImage** out) {
    char head[12] = {};
    const int fd = ::open(osPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    const std::string_view bytes(head, got > 0 ? static_cast<size_t>(got) : 0);
    if (bytes.substr(0, 3) == "\xFF\xD8\xFF")
        return vips_jpegload(osPath, out, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (bytes.substr(0, 4) == "\x89PNG")
        return vips_pngload(osPath, out, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (bytes.substr(0, 4) == "GIF8") return vips_gifload(osPath, out, nullptr);
    if (bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "WEBP")
        return vips_webpload(osPath, out, nullptr);
    *out = vips_image_new_from_file(osPath, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    return *out ? 0 : -1;
}

bool ReadSize(const char* osPath, int* width, int* height) {
    ImageRef loaded;
    if (LoadHeader(osPath, &loaded.image) != 0) {
        vips_error_clear();
        return false;
    }
    *width = vips_image_get_width(loaded.image);
    *height = vips_image_get_height(loaded.image);
    if (vips_image_get_orientation_swap(loaded.image)) std::swap(*width, *height);
    return true;
}

bool Thumbnail(const char* osPath, int box, void** buffer, size_t* length) {
    ImageRef thumbnail, flat;
    bool ok =
        vips_thumbnail(osPath, &thumbnail.image, box, "height", box, "size", VIPS_SIZE_DOWN, nullptr) == 0;
    VipsImage* image = thumbnail.image;
    if (ok && vips_image_hasalpha(image)) {
        VipsArrayDouble* white = vips_array_double_newv(1, 255.0);
        ok = vips_flatten(image, &flat.image, "background", white, nullptr) == 0;
        vips_area_unref(VIPS_AREA(white));
        image = flat.image;
    }
    ok = ok && vips_jpegsave_buffer(image, buffer, length, "strip", TRUE, nullptr) == 0;
    if (!ok) vips_error_clear();
    return ok;
}

}  // namespace

extern "C" const VipsModule* AlbumVipsModule() {
    static std::once_flag started;
    static bool failed = false;
    std::call_once(started, [] {
        failed = VIPS_INIT("albumbrowser") != 0;
        // Every picture is read once: a cache would only hold memory and open files. Pictures are
        // worked on one per thread (ForEachInParallel), so libvips's own threads would only compete.
        vips_cache_set_max(0);
        vips_concurrency_set(1);
    });
    static const VipsModule module{ReadSize, Thumbnail, g_free, vips_thread_shutdown};
    return failed ? nullptr : &module;
}
