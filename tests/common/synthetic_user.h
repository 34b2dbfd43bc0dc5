#pragma once
// Users made up for the gallery's tests and benchmark: a ledger and real pictures in OUTPUT/USER, as a
// backup would have left them.
#include <string>

#include "catalogue/album_catalogue.h"

// The sample user "alice" of the gallery tests:
//   a1 "旅行 Travel": p101 (small and big stored), p102 (a title holding <script>, small only), p103
//      (small and big), p105 (a PNG, big only: its thumbnail is made);
//   a2 "家庭 Family": p201-p203, small and medium stored;
//   a3 "旧相册 Old": p301-p302;
//   "bad/../id": an album whose id cannot name a file, with one photo "x y".
// Returns the user folder.
std::string MakeSampleUser(const std::string& outputFolder);

// A user of `albums` x `photos` photos titled "Photo N", each with a picture of every size in the
// bits of `sizes` (the same small JPEG per size, 240 pixels wide for the small size and larger for the
// others); the catalogue is filled as an update would fill it. Returns the user folder.
std::string MakeBigUser(const std::string& outputFolder, const std::string& name, int albums, int photos,
                        unsigned sizes, AlbumCatalogue& catalogue);

// A JPEG or PNG of a colour gradient.
std::string MakePicture(int width, int height, double hue, bool png = false);
