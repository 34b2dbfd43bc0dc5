#pragma once
// Pictures read and made through libvips: dimensions from the header alone, and JPEG thumbnails. Every
// function may be called from several threads at once.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct ImageSize {
    int width = 0, height = 0;
};

// The picture's dimensions as a browser shows it (an EXIF quarter turn swaps them), read from its
// header without decoding it; nothing when libvips cannot read it. `path` is GBK.
std::optional<ImageSize> ReadImageSize(const std::string& path);

// The same from the first bytes of a JPEG, PNG, GIF or WebP file, when they tell it: reading them
// costs a fraction of a libvips header read, which is for what they leave open.
std::optional<ImageSize> HeaderImageSize(std::string_view head);

// The dimensions MakeThumbnail gives a picture of `source`'s dimensions.
ImageSize ThumbnailSize(ImageSize source, int box);

// Writes a JPEG of the picture that fits a `box` x `box` square (shrunk, never enlarged, turned
// upright, transparency on white) to `target`, replaced atomically. False when the picture cannot be
// read or the file cannot be written. Paths are GBK.
bool MakeThumbnail(const std::string& source, const std::string& target, int box);

// Runs work(0) ... work(count - 1), pictures read or made through these functions, on one thread per
// core (at most four) and returns when all are done.
void ForEachInParallel(size_t count, const std::function<void(size_t)>& work);
