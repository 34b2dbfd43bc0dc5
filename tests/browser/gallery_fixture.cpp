// Builds the sample user's gallery in OUTPUT, for the browser tests and the screenshots:
//   gallery_fixture OUTPUT
// prints the path of OUTPUT/alice/gallery/index.html.
#include <cstdio>
#include <memory>

#include "archive/ledger.h"
#include "output/gallery.h"
#include "platform/codepage.h"
#include "synthetic_user.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gallery_fixture OUTPUT\n");
        return 2;
    }
    const std::string userFolder = MakeSampleUser(argv[1]);
    std::string error;
    const auto ledger = Ledger::Open(Ledger::PathFor(userFolder), &error);
    const GalleryBuild build = ledger ? BuildGallery(userFolder, "alice", *ledger) : GalleryBuild{error};
    if (!build.ok()) {
        std::fprintf(stderr, "%s\n", GbkToUtf8(build.failure).c_str());
        return 1;
    }
    std::printf("%s/gallery/index.html\n", userFolder.c_str());
    return 0;
}
