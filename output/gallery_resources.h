#pragma once
// The gallery's own style sheet and script, res/gallery/gallery.css and gallery.js, compiled in.
#include <string_view>

extern const std::string_view kGalleryCss;
extern const std::string_view kGalleryJs;
