#include "output/image_files.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "output/vips_module.h"
#include "platform/file_util.h"

namespace {

std::atomic<const VipsModule*> loadedVips{nullptr};

// The installed module beside the program, else the one this build made (for programs run where they
// were built).
std::string VipsModulePath() {
    std::error_code failed;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failed);
    if (!failed) {
        const std::filesystem::path installed = program.parent_path() / kVipsModuleBesideProgram;
        if (std::filesystem::exists(installed, failed)) return installed.string();
    }
    return ALBUM_VIPS_BUILD_MODULE;
}

// The module, loaded and libvips started by the first call; null when it cannot be loaded, and then
// every picture that needs libvips counts as unreadable.
const VipsModule* Vips() {
    static const VipsModule* const module = [] {
        const VipsModule* loaded = nullptr;
        if (void* handle = ::dlopen(VipsModulePath().c_str(), RTLD_NOW | RTLD_LOCAL)) {
            if (void* entry = ::dlsym(handle, kVipsModuleEntry))
                loaded = reinterpret_cast<const VipsModule* (*)()>(entry)();
        } else {
            // An installation without its module still backs up; its pictures stand in for thumbnails.
            std::fprintf(stderr, "albumbrowser: %s\n", ::dlerror());
        }
        loadedVips = loaded;
        return loaded;
    }();
    return module;
}

std::uint32_t Big16(std::string_view b, size_t at) {
    return (static_cast<unsigned char>(b[at]) << 8) | static_cast<unsigned char>(b[at + 1]);
}
std::uint32_t Big32(std::string_view b, size_t at) {
    return (Big16(b, at) << 16) | Big16(b, at + 2);
}
std::uint32_t Little16(std::string_view b, size_t at) {
    return static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8);
}
std::uint32_t Little24(std::string_view b, size_t at) {
    return Little16(b, at) | (static_cast<unsigned char>(b[at + 2]) << 16);
}
std::uint32_t Little32(std::string_view b, size_t at) {
    return Little16(b, at) | (Little16(b, at + 2) << 16);
}

// The EXIF orientation (1 to 8) in an APP1 segment's data; 0 when it holds none.
int ExifOrientation(std::string_view exif) {
    if (exif.substr(0, 6) != std::string_view("Exif\0\0", 6)) return 0;
    const std::string_view tiff = exif.substr(6);
    if (tiff.size() < 8) return 0;
    const bool little = tiff.substr(0, 2) == "II";
    if (!little && tiff.substr(0, 2) != "MM") return 0;
    const auto u16 = [&](size_t at) { return little ? Little16(tiff, at) : Big16(tiff, at); };
    const auto u32 = [&](size_t at) { return little ? Little32(tiff, at) : Big32(tiff, at); };
    const size_t ifd = u32(4);
    if (ifd + 2 > tiff.size()) return 0;
    const size_t entries = u16(ifd);
    for (size_t e = 0; e < entries && ifd + 2 + 12 * (e + 1) <= tiff.size(); ++e) {
        const size_t entry = ifd + 2 + 12 * e;
        if (u16(entry) == 0x0112) return static_cast<int>(u16(entry + 8));
    }
    return 0;
}

std::optional<ImageSize> JpegSize(std::string_view b) {
    int orientation = 0;
    // Segment by segment up to the frame header, which names the size.
    for (size_t at = 2; at + 4 <= b.size();) {
        if (static_cast<unsigned char>(b[at]) != 0xFF) return std::nullopt;
        const unsigned marker = static_cast<unsigned char>(b[at + 1]);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt;  // the image data starts: no frame header
        const size_t length = Big16(b, at + 2);
        if (length < 2) return std::nullopt;
        const std::string_view data = b.substr(at + 4, length - 2);
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (data.size() < 5) return std::nullopt;
            ImageSize size{static_cast<int>(Big16(data, 3)), static_cast<int>(Big16(data, 1))};
            if (orientation >= 5 && orientation <= 8) std::swap(size.width, size.height);
            return size;
        }
        if (marker == 0xE1 && orientation == 0) orientation = ExifOrientation(data);
        at += 2 + length;
    }
    return std::nullopt;
}

std::optional<ImageSize> WebpSize(std::string_view b) {
    if (b.size() < 30) return std::nullopt;
    const std::string_view chunk = b.substr(12, 4);
    if (chunk == "VP8 " && b.substr(23, 3) == "\x9D\x01\x2A")
        return ImageSize{static_cast<int>(Little16(b, 26) & 0x3FFF),
                         static_cast<int>(Little16(b, 28) & 0x3FFF)};
    if (chunk == "VP8L" && static_cast<unsigned char>(b[20]) == 0x2F) {
        const std::uint32_t bits = Little32(b, 21);
        return ImageSize{static_cast<int>((bits & 0x3FFF) + 1),
                         static_cast<int>(((bits >> 14) & 0x3FFF) + 1)};
    }
    // The extended form names its canvas; one that carries EXIF may turn the picture, which libvips knows.
    if (chunk == "VP8X" && !(static_cast<unsigned char>(b[20]) & 0x08))
        return ImageSize{static_cast<int>(Little24(b, 24) + 1), static_cast<int>(Little24(b, 27) + 1)};
    return std::nullopt;
}

}  // namespace

std::optional<ImageSize> HeaderImageSize(std::string_view head) {
    std::optional<ImageSize> size;
    if (head.substr(0, 3) == "\xFF\xD8\xFF") {
        size = JpegSize(head);
    } else if (head.size() >= 24 && head.substr(0, 8) == "\x89PNG\r\n\x1A\n" &&
               head.substr(12, 4) == "IHDR") {
        size = ImageSize{static_cast<int>(Big32(head, 16)), static_cast<int>(Big32(head, 20))};
    } else if (head.size() >= 10 && (head.substr(0, 6) == "GIF87a" || head.substr(0, 6) == "GIF89a")) {
        size = ImageSize{static_cast<int>(Little16(head, 6)), static_cast<int>(Little16(head, 8))};
    } else if (head.substr(0, 4) == "RIFF" && head.substr(8, 4) == "WEBP") {
        size = WebpSize(head);
    }
    if (size && (size->width <= 0 || size->height <= 0)) return std::nullopt;
    return size;
}

std::optional<ImageSize> ReadImageSize(const std::string& path) {
    // Most pictures say their size in their first bytes.
    std::string head(64 * 1024, '\0');
    const int fd = ::open(ToOsPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    const ssize_t got = ::read(fd, head.data(), head.size());
    ::close(fd);
    head.resize(got > 0 ? static_cast<size_t>(got) : 0);
    if (const std::optional<ImageSize> size = HeaderImageSize(head)) return size;
    const VipsModule* vips = Vips();
    ImageSize size;
    if (!vips || !vips->readSize(ToOsPath(path).c_str(), &size.width, &size.height)) return std::nullopt;
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
    const VipsModule* vips = Vips();
    void* buffer = nullptr;
    size_t length = 0;
    if (!vips || !vips->thumbnail(ToOsPath(source).c_str(), box, &buffer, &length)) return false;
    const bool written = WriteFileAtomic(target, std::string_view(static_cast<const char*>(buffer), length));
    vips->freeBuffer(buffer);
    return written;
}

void ForEachInParallel(size_t count, const std::function<void(size_t)>& work) {
    const size_t threads = std::min<size_t>({count, std::max(1u, std::thread::hardware_concurrency()), 4});
    std::atomic<size_t> next{0};
    const auto run = [&] {
        for (size_t i = next++; i < count; i = next++) work(i);
        // What libvips keeps for the thread goes with it.
        if (const VipsModule* vips = loadedVips.load()) vips->threadDone();
    };
    std::vector<std::thread> helpers;
    for (size_t t = 1; t < threads; ++t) helpers.emplace_back(run);
    run();
    for (std::thread& helper : helpers) helper.join();
}
