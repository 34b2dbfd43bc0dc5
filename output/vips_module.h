#pragma once
// What image_files needs of libvips, built as a module of its own (albumbrowser-vips.so) and loaded
// when a picture first needs it: libvips brings about a hundred libraries, whose loading would cost
// every start of either program some 20 ms, though most runs never make a thumbnail.
#include <cstddef>

struct VipsModule {
    // The picture's dimensions from its header, an EXIF quarter turn applied; false when libvips
    // cannot read it.
    bool (*readSize)(const char* osPath, int* width, int* height);
    // The picture fitted into a box x box square (shrunk only, turned upright, transparency on white)
    // as JPEG bytes, released with freeBuffer; false when it cannot be read.
    bool (*thumbnail)(const char* osPath, int box, void** buffer, size_t* length);
    void (*freeBuffer)(void* buffer);
    // Releases what libvips keeps for the calling thread.
    void (*threadDone)();
};

// Where an installed program finds the module, from the folder that holds the program, and the
// module's one entry point, which starts libvips.
inline constexpr const char* kVipsModuleBesideProgram = "../lib/albumbrowser/albumbrowser-vips.so";
inline constexpr const char* kVipsModuleEntry = "AlbumVipsModule";
extern "C" const VipsModule* AlbumVipsModule();
