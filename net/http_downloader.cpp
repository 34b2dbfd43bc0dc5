#include "net/http_downloader.h"

#include "platform/file_util.h"

HttpDownloader::Result HttpDownloader::Fetch(const std::string& url) {
    return engine_.Wait(engine_.Submit(FetchRequest{url}));
}

int HttpDownloader::Download(std::string fileName, std::string url) {
    const Result result = Fetch(url);
    if (result.outcome != Result::Received) return -1;
    if (!WriteFileAtomic(fileName, result.body)) return 0;
    return static_cast<int>(result.body.size());
}
