#pragma once
// Downloads one URL into one file over HTTP, optionally through a proxy. One request at a time on its
// own FetchEngine, so the connections of one downloader are kept alive and reused by its later calls,
// and transient failures are retried. For requests in parallel, submit them to engine() directly: the
// settings made here apply to it too.
#include <atomic>
#include <string>

#include "net/fetch_engine.h"

class HttpDownloader {
  public:
    // The largest body a download takes.
    static constexpr long DownloadBufferSize = FetchEngine::DownloadBufferSize;

    HttpDownloader() = default;
    virtual ~HttpDownloader() = default;
    HttpDownloader(const HttpDownloader&) = delete;
    HttpDownloader& operator=(const HttpDownloader&) = delete;

    // The proxy (empty server: the environment's proxy settings apply), its user and password.
    void SetProxy(std::string server, std::string user, std::string password) {
        engine_.SetProxy(std::move(server), std::move(user), std::move(password));
    }
    // The proxy port used when the server text names none; outside 1..65535 it is 80.
    void SetProxyPort(int port) { engine_.SetProxyPort(port); }
    // Shortens the time-outs (seconds to connect, seconds a transfer may receive nothing, seconds a
    // whole request may take); for tests.
    void SetTimeouts(long connectSeconds, long idleSeconds, long totalSeconds = 300) {
        engine_.SetTimeouts(connectSeconds, idleSeconds, totalSeconds);
    }
    // A flag that abandons the request in flight within a second once it is set (the job's interrupt).
    void SetInterruptFlag(const std::atomic<bool>* flag) { engine_.SetInterruptFlag(flag); }

    // How a request ended.
    using Result = FetchResult;
    // Fetches the URL into memory.
    virtual Result Fetch(const std::string& url);
    // Asks for the URL into memory ahead of time, in parallel with the others asked for; Take(id)
    // returns its result, in whatever order the caller takes them.
    virtual int Submit(const std::string& url) { return engine_.Submit(FetchRequest{url}); }
    virtual Result Take(int id) { return engine_.Wait(id); }

    // Fetches the URL into the file. Returns the number of body bytes stored (0 for an empty body or
    // when the file cannot be created), or -1 when the request failed; on -1 the file is untouched.
    int Download(std::string fileName, std::string url);

    // The engine behind Fetch, for submitting requests ahead (connections, retries, rate are set there).
    FetchEngine& engine() { return engine_; }

  private:
    FetchEngine engine_;
};
