#include "catalogue/http_downloader.h"

#include <curl/curl.h>

#include <mutex>

#include "platform/file_util.h"

// The connection cache shared by the easy handles of one downloader, so that its calls reuse kept-alive
// connections as the platform's session pool did.
struct HttpDownloader::Connections {
    CURLSH* share = nullptr;
};

namespace {

struct Body {
    std::string bytes;
    bool tooLarge = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* userData) {
    auto* body = static_cast<Body*>(userData);
    const size_t length = size * count;
    if (body->bytes.size() + length > static_cast<size_t>(HttpDownloader::DownloadBufferSize)) {
        body->tooLarge = true;
        return 0;  // a short count makes libcurl abort the transfer
    }
    body->bytes.append(data, length);
    return length;
}

// Abandons the transfer once the interrupt flag is set.
int AbandonWhenInterrupted(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* interrupt = static_cast<const std::atomic<bool>*>(flag);
    return interrupt && interrupt->load() ? 1 : 0;
}

// Frees the easy handle and its header list on every way out of Download.
struct EasyRequest {
    CURL* handle = curl_easy_init();
    curl_slist* headers = nullptr;
    ~EasyRequest() {
        if (handle) curl_easy_cleanup(handle);
        curl_slist_free_all(headers);
    }
};

}  // namespace

HttpDownloader::HttpDownloader() : connections_(new Connections) {
    static std::once_flag globalInit;
    std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    connections_->share = curl_share_init();
    if (connections_->share) {
        curl_share_setopt(connections_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        curl_share_setopt(connections_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    }
}

HttpDownloader::~HttpDownloader() {
    if (connections_->share) curl_share_cleanup(connections_->share);
    delete connections_;
}

void HttpDownloader::SetProxy(std::string server, std::string user, std::string password) {
    proxyServer_ = std::move(server);
    proxyUser_ = std::move(user);
    proxyPassword_ = std::move(password);
}

void HttpDownloader::SetProxyPort(int port) {
    proxyPort_ = (port >= 1 && port <= 65535) ? port : 80;
}

void HttpDownloader::SetTimeouts(long connectSeconds, long idleSeconds, long totalSeconds) {
    connectTimeout_ = connectSeconds;
    idleTimeout_ = idleSeconds;
    totalTimeout_ = totalSeconds;
}

int HttpDownloader::Download(std::string fileName, std::string url) {
    const Result result = Fetch(url);
    if (result.outcome != Result::Received) return -1;
    if (!WriteFileAtomic(fileName, result.body)) return 0;
    return static_cast<int>(result.body.size());
}

HttpDownloader::Result HttpDownloader::Fetch(const std::string& url) {
    Result result;
    EasyRequest request;
    CURL* curl = request.handle;
    if (!curl) return result;

    // The three header lines of the design and nothing else of our own; an empty "Accept:" removes
    // the line libcurl would add.
    for (const char* line :
         {"Content-Type: text/html", "Proxy-Connection: Keep-Alive", "User-Agent: MSIE/1.0", "Accept:"}) {
        curl_slist* extended = curl_slist_append(request.headers, line);
        if (!extended) return result;
        request.headers = extended;
    }

    Body body;
    body.bytes.reserve(16 * 1024);

    if (connections_->share) curl_easy_setopt(curl, CURLOPT_SHARE, connections_->share);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, request.headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, connectTimeout_);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, idleTimeout_);
    // A body that trickles in never ends by the idle limit alone.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, totalTimeout_);
    // libcurl calls this at least once a second, also while nothing arrives.
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, AbandonWhenInterrupted);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, interrupt_);
    // Lets libcurl refuse an announced oversized body before reading it.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(DownloadBufferSize));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);

    if (!proxyServer_.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXY, proxyServer_.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYPORT, static_cast<long>(proxyPort_));
        // A configured proxy is used for every address, whatever the environment's no_proxy says.
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
        if (!proxyUser_.empty()) curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxyUser_.c_str());
        if (!proxyPassword_.empty()) curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxyPassword_.c_str());
    }

    // Transfer errors include a body cut short of its Content-Length and a body refused as too large.
    const CURLcode code = curl_easy_perform(curl);
    long status = 0, connectStatus = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    if (code == CURLE_ABORTED_BY_CALLBACK) {
        result.outcome = Result::Interrupted;
    } else if (connectStatus == 407 || (code == CURLE_OK && (status < 200 || status > 299))) {
        // A proxy refusing a tunnel answers the CONNECT; one refusing plain HTTP answers the request.
        result.outcome = Result::HttpError;
        result.status = connectStatus == 407 ? connectStatus : status;
    } else if (code == CURLE_OK && !body.tooLarge) {
        result.outcome = Result::Received;
        result.status = status;
        result.body = std::move(body.bytes);
    }
    return result;
}
