#pragma once
// Downloads one URL into one file over HTTP, optionally through a proxy. One request at a time;
// the connections of one downloader are kept alive and reused by its later calls.
#include <atomic>
#include <string>

class HttpDownloader {
  public:
    // The largest body a download takes.
    static constexpr long DownloadBufferSize = 1024000;

    HttpDownloader();
    virtual ~HttpDownloader();
    HttpDownloader(const HttpDownloader&) = delete;
    HttpDownloader& operator=(const HttpDownloader&) = delete;

    // The proxy (empty server: the environment's proxy settings apply), its user and password.
    void SetProxy(std::string server, std::string user, std::string password);
    // The proxy port used when the server text names none; outside 1..65535 it is 80.
    void SetProxyPort(int port);
    // Shortens the time-outs (seconds to connect, seconds a transfer may receive nothing, seconds a
    // whole request may take); for tests.
    void SetTimeouts(long connectSeconds, long idleSeconds, long totalSeconds = 300);
    // A flag that abandons the request in flight within a second once it is set (the job's interrupt).
    void SetInterruptFlag(const std::atomic<bool>* flag) { interrupt_ = flag; }

    // How a request ended.
    struct Result {
        enum Outcome {
            Received,      // a complete answer with a 2xx status: `body` holds it
            HttpError,     // an answer with another status: `status` holds it
            NetworkError,  // no complete answer: refused, cut, too large or too slow
            Interrupted,   // abandoned because the interrupt flag was set
        };
        Outcome outcome = NetworkError;
        long status = 0;
        std::string body;
    };
    // Fetches the URL into memory.
    virtual Result Fetch(const std::string& url);

    // Fetches the URL into the file. Returns the number of body bytes stored (0 for an empty body or
    // when the file cannot be created), or -1 when the request failed; on -1 the file is untouched.
    int Download(std::string fileName, std::string url);

  private:
    struct Connections;
    std::string proxyServer_;
    std::string proxyUser_;
    std::string proxyPassword_;
    int proxyPort_ = 80;
    long connectTimeout_ = 60;
    long idleTimeout_ = 60;
    long totalTimeout_ = 300;
    const std::atomic<bool>* interrupt_ = nullptr;
    Connections* connections_;
};
