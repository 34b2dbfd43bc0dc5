#pragma once
// Downloads one URL into one file over HTTP, optionally through a proxy. One request at a time;
// the connections of one downloader are kept alive and reused by its later calls.
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
    // Shortens the time-outs (seconds to connect, seconds a transfer may receive nothing); for tests.
    void SetTimeouts(long connectSeconds, long idleSeconds);

    // Fetches the URL into the file. Returns the number of body bytes stored (0 for an empty body or
    // when the file cannot be created), or -1 when the request failed; on -1 the file is untouched.
    virtual int Download(std::string fileName, std::string url);

  private:
    struct Connections;
    std::string proxyServer_;
    std::string proxyUser_;
    std::string proxyPassword_;
    int proxyPort_ = 80;
    long connectTimeout_ = 60;
    long idleTimeout_ = 60;
    Connections* connections_;
};
