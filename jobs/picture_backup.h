#pragma once
// The picture stage of a network update: the pictures of the chosen sizes of every listed photo of the
// albums read, fetched in parallel and stored as whole images (see picture_store.h).
#include <functional>
#include <string>
#include <vector>

#include "catalogue/album_catalogue.h"
#include "jobs/job_progress.h"
#include "jobs/picture_store.h"
#include "net/http_downloader.h"

struct PictureBackupResult {
    int fresh = 0;             // fetched and stored whole in this run
    int present = 0;           // there already
    int failed = 0;            // not stored: `failures` names each, for failed.txt
    bool interrupted = false;  // stopped at the interrupt flag; unfinished pictures are in no count
    std::vector<FailedPicture> failures;
};

// Pictures a host refuses (429 or 503 after the retries) one after the other before the rest of its
// pictures are left for the next run.
inline constexpr int kBusyHostRefusals = 20;

// One picture to fetch.
struct PictureRequest {
    std::string photoId;
    int size = 0;
    std::string address;
};

// Told of each picture a stage finds whole on disk: `fresh` when this run stored it.
using PictureFound = std::function<void(const std::string& photoId, int size, bool fresh)>;

// Fetches what is missing of the pictures of `sizes` (bit i for size i) of the albums marked in
// `albums`, at most `ahead` requests ahead, reporting progress under `caption`. First removes the
// temporary files killed runs left in the picture folders. A host that refused kBusyHostRefusals pictures
// in a row gets no more requests: its other pictures fail as "服务器繁忙". Stops at an interrupt; what did
// not arrive keeps its .part for the next run.
PictureBackupResult BackUpPictures(HttpDownloader& downloader, JobProgress& progress,
                                   const AlbumCatalogue& catalogue, const std::vector<bool>& albums,
                                   unsigned sizes, const std::string& userFolder, const std::string& caption,
                                   int ahead, const PictureFound& found = {});

// Fetches the pictures in this order, whether or not they are there already (a damaged one is replaced
// once its new bytes are whole), as BackUpPictures does; `present` stays 0.
PictureBackupResult FetchPictures(HttpDownloader& downloader, JobProgress& progress,
                                  const std::vector<PictureRequest>& pictures, const std::string& userFolder,
                                  int ahead, const PictureFound& found = {});

// "1.5 MB": a byte count for people.
std::string ByteCountText(double bytes);
