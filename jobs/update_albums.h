#pragma once
// The update workflow: builds the catalogue of one user from the network (every answer downloaded
// into the cache first) or from the cache alone, writing the report pages on the way.
#include <functional>
#include <memory>
#include <string>

#include "catalogue/album_catalogue.h"
#include "catalogue/app_settings.h"
#include "catalogue/rest_reader.h"
#include "catalogue/zorbi_service.h"
#include "jobs/job_progress.h"
#include "net/http_downloader.h"

struct UpdateContext {
    AlbumCatalogue& catalogue;
    RestReader& reader;
    const AppSettings& settings;
    const ZorbiService& service;
    JobProgress& progress;
    AlbumListView& albumList;
    std::string selectedUser;    // the user list's entry (GBK): the user folder's name
    std::string outputTemplate;  // the template of the album pages
    // Makes the downloader of a network update; tests hand in fakes.
    std::function<std::unique_ptr<HttpDownloader>()> makeDownloader = [] {
        return std::make_unique<HttpDownloader>();
    };
    int startPauseMs = 100;  // the pause before the first report
};

// How a job ended. Its final text is the progress's resultText in every case.
enum class JobOutcome {
    Done,                // the summary
    DonePicturesFailed,  // the summary; some pictures could not be saved (failed.txt names them)
    Failed,              // an error text
    FolderBusy,          // another job holds the user folder: the text names its process; nothing done
    Interrupted,         // stopped by interruptRequested: the summary after "已中断："
    DoneWithProblems,    // verify: the summary; some files are still missing or damaged
};

// The outcome as the ledger records a run's: "done", "pictures failed", "problems", "interrupted" or
// "failed".
const char* OutcomeName(JobOutcome outcome);

// Runs one job holding the user folder's lock (FolderLock) throughout; sets the final text, then
// closes the progress.
JobOutcome UpdateAlbums(const UpdateContext& context, bool fromCache);

// Empties the album list and refills it from the catalogue, reporting progress.
void RefreshAlbumList(const AlbumCatalogue& catalogue, AlbumListView& view, JobProgress& progress);

// Inserts the row of one album: its title, then its photo count.
void InsertAlbumRow(const AlbumCatalogue& catalogue, AlbumListView& view, int row, int albumIndex);

// Gives a network job's downloader the settings (proxy, connections, retries, rate), the job's interrupt
// flag, and the report of a host that asks for a pause.
void ConfigureDownloader(HttpDownloader& downloader, const AppSettings& settings, JobProgress& progress);

// The user's folder below the output path.
std::string UserFolder(const AppSettings& settings, const std::string& userName);
