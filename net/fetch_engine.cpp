#include "net/fetch_engine.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace {

bool IsSuccess(long status) {
    return status >= 200 && status <= 299;
}

// Failures that another attempt may not meet. A name that does not resolve is left out: it is far more
// often a wrong address than a passing fault, and retrying would only delay the message.
bool IsTransientCode(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_GOT_NOTHING:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return true;
        default:
            return false;
    }
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// A number of at most 18 digits at the front of `text`, which it leaves after the number; -1 for none.
long long TakeNumber(std::string_view& text) {
    long long number = 0;
    size_t digits = 0;
    for (; digits < text.size() && digits < 18 && std::isdigit(static_cast<unsigned char>(text[digits]));
         ++digits)
        number = number * 10 + (text[digits] - '0');
    text.remove_prefix(digits);
    return digits == 0 ? -1 : number;
}

// Content-Range "bytes START-END/TOTAL": START, or -1; TOTAL, or -1 for "*" or anything unreadable.
void ParseContentRange(std::string_view value, long long& start, long long& total) {
    start = total = -1;
    value = Trimmed(value);
    if (!StartsWithNoCase(value, "bytes ")) return;
    value.remove_prefix(6);
    const long long first = TakeNumber(value);
    if (first < 0 || value.empty() || value.front() != '-') return;
    start = first;
    value.remove_prefix(1);
    if (TakeNumber(value) < 0 || value.empty() || value.front() != '/') return;
    value.remove_prefix(1);
    const long long whole = TakeNumber(value);
    if (value.empty()) total = whole;
}

// libcurl calls this at least once a second, also while nothing arrives.
int AbandonWhenInterrupted(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* interrupt = static_cast<const std::atomic<bool>*>(flag);
    return interrupt && interrupt->load() ? 1 : 0;
}

}  // namespace

std::string UrlHost(const std::string& url) {
    std::string host;
    CURLU* parsed = curl_url();
    if (!parsed) return host;
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* name = nullptr;
        char* port = nullptr;
        curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0);
        curl_url_get(parsed, CURLUPART_HOST, &name, 0);
        curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT);
        host = std::string(scheme ? scheme : "") + "://" + (name ? name : "") + ":" + (port ? port : "");
        curl_free(scheme);
        curl_free(name);
        curl_free(port);
    }
    curl_url_cleanup(parsed);
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return host;
}

struct FetchEngine::Transfer {
    enum State { Queued, Running, Done };

    int id = 0;
    FetchRequest request;
    std::string host;  // scheme, name and port: what the connection limit and the waits apply to
    State state = Queued;
    int attempt = 0;
    Clock::TimePoint due{};  // a retry starts no earlier
    long long rangeStart = -1;

    CURL* easy = nullptr;
    curl_slist* headers = nullptr;

    // The current attempt's answer.
    std::string retryAfter;
    bool hasRetryAfter = false;
    long long partStart = -1;  // from Content-Range
    long long partTotal = -1;
    bool bodyBegun = false;
    long long sinkPosition = -1;  // where the bytes given to the sink end, in the whole file
    long long bodyBytes = 0;
    bool tooLarge = false;
    bool sinkRefused = false;
    std::string body;

    FetchResult result;

    size_t TakeHeader(std::string_view line);
    size_t TakeBody(const char* data, size_t length);
    bool BeginSink(long status);
};

size_t FetchEngine::Transfer::TakeHeader(std::string_view line) {
    if (StartsWithNoCase(line, "http/")) {
        // A new answer (after a redirect or an interim 1xx): forget what the previous one said.
        hasRetryAfter = false;
        retryAfter.clear();
        partStart = partTotal = -1;
    } else if (StartsWithNoCase(line, "retry-after:")) {
        hasRetryAfter = true;
        retryAfter = std::string(Trimmed(line.substr(12)));
    } else if (StartsWithNoCase(line, "content-range:")) {
        ParseContentRange(line.substr(14), partStart, partTotal);
    }
    return line.size();
}

size_t FetchEngine::Transfer::TakeBody(const char* data, size_t length) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (!IsSuccess(status)) return length;  // an error page is no part of the answer

    FetchSink* sink = request.sink;
    const long long limit = sink ? MaxSinkBytes : DownloadBufferSize;
    if (bodyBytes + static_cast<long long>(length) > limit) {
        tooLarge = true;
        return 0;  // a short count makes libcurl abort the transfer
    }
    bodyBytes += static_cast<long long>(length);
    if (!sink) {
        body.append(data, length);
        return length;
    }
    if (!bodyBegun && !BeginSink(status)) return 0;
    if (!sink->Write(std::string_view(data, length))) {
        sinkRefused = true;
        return 0;
    }
    sinkPosition += static_cast<long long>(length);
    return length;
}

bool FetchEngine::Transfer::BeginSink(long status) {
    bodyBegun = true;
    AnswerHead head;
    head.status = status;
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
        head.contentLength = length;
    if (status == 206) {
        // Without a Content-Range the range asked for is the best guess; the sink checks it anyway.
        head.rangeStart = partStart >= 0 ? partStart : std::max(0LL, rangeStart);
        head.rangeTotal = partTotal;
    }
    sinkPosition = head.rangeStart;
    if (!request.sink->Begin(head)) {
        sinkRefused = true;
        return false;
    }
    return true;
}

FetchEngine::FetchEngine()
    : random_(std::random_device{}()),
      schedule_(clock_, [this] { return std::uniform_real_distribution<double>(0.0, 1.0)(random_); }) {
    static std::once_flag globalInit;
    std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    multi_ = curl_multi_init();
    SetConnections(DefaultConnections);
}

FetchEngine::~FetchEngine() {
    CancelAll();
    if (multi_) curl_multi_cleanup(multi_);
}

void FetchEngine::SetProxy(std::string server, std::string user, std::string password) {
    proxyServer_ = std::move(server);
    proxyUser_ = std::move(user);
    proxyPassword_ = std::move(password);
}

void FetchEngine::SetProxyPort(int port) {
    proxyPort_ = (port >= 1 && port <= 65535) ? port : 80;
}

void FetchEngine::SetTimeouts(long connectSeconds, long idleSeconds, long totalSeconds) {
    connectTimeout_ = connectSeconds;
    idleTimeout_ = idleSeconds;
    totalTimeout_ = totalSeconds;
}

void FetchEngine::SetConnections(int connections) {
    connections_ = std::clamp(connections, 1, MaxConnections);
    if (!multi_) return;
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(connections_));
    // Room in the cache for the connections of the service, the picture host and a proxy.
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, static_cast<long>(connections_ * 4));
}

int FetchEngine::Submit(FetchRequest request) {
    auto transfer = std::make_unique<Transfer>();
    transfer->id = nextId_++;
    transfer->host = UrlHost(request.url);
    transfer->rangeStart = request.rangeStart;
    transfer->request = std::move(request);
    const int id = transfer->id;
    transfers_.emplace(id, std::move(transfer));
    return id;
}

void FetchEngine::Remove(Transfer& transfer) {
    if (transfer.easy) {
        curl_multi_remove_handle(multi_, transfer.easy);
        curl_easy_cleanup(transfer.easy);
        transfer.easy = nullptr;
    }
    curl_slist_free_all(transfer.headers);
    transfer.headers = nullptr;
}

void FetchEngine::Cancel(int id) {
    const auto found = transfers_.find(id);
    if (found == transfers_.end()) return;
    Remove(*found->second);
    transfers_.erase(found);
}

void FetchEngine::CancelAll() {
    for (auto& [id, transfer] : transfers_) Remove(*transfer);
    transfers_.clear();
}

void FetchEngine::AbandonAll() {
    for (auto& [id, transfer] : transfers_) {
        if (transfer->state == Transfer::Done) continue;
        Remove(*transfer);
        transfer->state = Transfer::Done;
        transfer->result = FetchResult{};
        transfer->result.outcome = FetchResult::Interrupted;
    }
}

bool FetchEngine::Start(Transfer& transfer) {
    ++transfer.attempt;
    transfer.hasRetryAfter = false;
    transfer.retryAfter.clear();
    transfer.partStart = transfer.partTotal = -1;
    transfer.bodyBegun = false;
    transfer.bodyBytes = 0;
    transfer.tooLarge = false;
    transfer.sinkRefused = false;
    transfer.body.clear();

    CURL* curl = transfer.easy = curl_easy_init();
    if (!curl) return false;
    // The three header lines of the design and nothing else of our own; an empty "Accept:" removes
    // the line libcurl would add.
    for (const char* line :
         {"Content-Type: text/html", "Proxy-Connection: Keep-Alive", "User-Agent: MSIE/1.0", "Accept:"}) {
        curl_slist* extended = curl_slist_append(transfer.headers, line);
        if (!extended) return false;
        transfer.headers = extended;
    }

    curl_easy_setopt(curl, CURLOPT_PRIVATE, &transfer);
    curl_easy_setopt(curl, CURLOPT_URL, transfer.request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, transfer.headers);
    if (transfer.rangeStart >= 0) {
        const std::string range = std::to_string(transfer.rangeStart) + "-";
        curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());  // libcurl copies the text
    }
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
    // An abandoned transfer does not wait for its name lookup to end: the resolver thread is left to
    // finish on its own, so an interrupt during a slow lookup takes effect at once.
    curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
#endif
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
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, AbandonWhenInterrupted);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, interrupt_);
    // Lets libcurl refuse an announced oversized body before reading it.
    const curl_off_t limit = transfer.request.sink ? MaxSinkBytes : DownloadBufferSize;
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, limit);
    const curl_write_callback takeBody = [](char* data, size_t size, size_t count, void* user) {
        return static_cast<Transfer*>(user)->TakeBody(data, size * count);
    };
    const curl_write_callback takeHeader = [](char* data, size_t size, size_t count, void* user) {
        return static_cast<Transfer*>(user)->TakeHeader(std::string_view(data, size * count));
    };
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, takeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, takeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);

    if (!proxyServer_.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXY, proxyServer_.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYPORT, static_cast<long>(proxyPort_));
        // A configured proxy is used for every address, whatever the environment's no_proxy says.
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
        if (!proxyUser_.empty()) curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxyUser_.c_str());
        if (!proxyPassword_.empty()) curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxyPassword_.c_str());
    }

    if (curl_multi_add_handle(multi_, curl) != CURLM_OK) {
        curl_easy_cleanup(curl);
        transfer.easy = nullptr;
        return false;
    }
    transfer.state = Transfer::Running;
    schedule_.Started(transfer.host);
    return true;
}

void FetchEngine::StartReady() {
    if (Interrupted()) {
        AbandonAll();
        return;
    }
    int running = 0;
    std::map<std::string, int> runningPerHost;
    for (const auto& [id, transfer] : transfers_) {
        if (transfer->state != Transfer::Running) continue;
        ++running;
        ++runningPerHost[transfer->host];
    }
    const Clock::TimePoint now = clock_.now();
    // In submission order, so the answers the caller takes first are asked for first.
    for (auto& [id, transfer] : transfers_) {
        if (connections_ == 1 && running > 0) return;
        if (transfer->state != Transfer::Queued || transfer->due > now) continue;
        int& here = runningPerHost[transfer->host];
        if (here >= connections_ || schedule_.NextStart(transfer->host) > now) continue;
        if (Start(*transfer)) {
            ++running;
            ++here;
        } else {
            Remove(*transfer);
            transfer->state = Transfer::Done;
            transfer->result = FetchResult{};
        }
    }
}

void FetchEngine::Finish(Transfer& transfer, int resultCode) {
    auto code = static_cast<CURLcode>(resultCode);
    long status = 0;
    long connectStatus = 0;
    curl_off_t length = -1;
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(transfer.easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    // An answer without a body still begins one: the sink judges an empty picture too.
    if (code == CURLE_OK && IsSuccess(status) && transfer.request.sink && !transfer.bodyBegun &&
        !transfer.BeginSink(status))
        code = CURLE_WRITE_ERROR;
    Remove(transfer);

    const bool proxyUserSet = !proxyServer_.empty() && !proxyUser_.empty();
    // A proxy refusing a tunnel answers the CONNECT; one refusing plain HTTP answers the request.
    if (connectStatus != 407 && !(connectStatus == 401 && proxyUserSet)) connectStatus = 0;

    FetchResult result;
    result.contentLength = length;
    result.sinkRefused = transfer.sinkRefused;
    result.cut = code == CURLE_PARTIAL_FILE;
    result.tooLarge = transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED;
    bool transient = false;
    if (code == CURLE_ABORTED_BY_CALLBACK) {
        result.outcome = FetchResult::Interrupted;
    } else if (connectStatus != 0 || (code == CURLE_OK && !IsSuccess(status))) {
        result.outcome = FetchResult::HttpError;
        result.status = connectStatus != 0 ? connectStatus : status;
        result.proxyRefused = result.status == 407 || (result.status == 401 && proxyUserSet);
        transient = FetchSchedule::IsTransientStatus(result.status);
    } else if (code == CURLE_OK && !transfer.tooLarge && !transfer.sinkRefused) {
        result.outcome = FetchResult::Received;
        result.status = status;
        result.body = std::move(transfer.body);
    } else {
        // Includes a body cut short of its Content-Length and a body refused as too large.
        transient = !result.tooLarge && !transfer.sinkRefused && IsTransientCode(code);
    }

    if (transient && !Interrupted()) {
        std::optional<FetchSchedule::Duration> retryAfter;
        if (transfer.hasRetryAfter) {
            if (const auto seconds =
                    FetchSchedule::ParseRetryAfter(transfer.retryAfter, std::chrono::system_clock::now()))
                retryAfter = *seconds;
        }
        if (const auto when = schedule_.Failed(transfer.host, transfer.attempt, retryAfter)) {
            // A picture resumes after the bytes its sink already took.
            if (transfer.request.sink && transfer.bodyBegun) transfer.rangeStart = transfer.sinkPosition;
            transfer.state = Transfer::Queued;
            transfer.due = *when;
            return;
        }
    }
    transfer.state = Transfer::Done;
    transfer.result = std::move(result);
}

void FetchEngine::Collect() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        Transfer* transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        if (transfer) Finish(*transfer, message->data.result);
    }
}

long FetchEngine::PollMilliseconds() const {
    // Short enough to notice the interrupt flag within a second and to count down a host's wait.
    long wait = 250;
    const Clock::TimePoint now = clock_.now();
    for (const auto& [id, transfer] : transfers_) {
        if (transfer->state != Transfer::Queued) continue;
        const Clock::TimePoint start = std::max(transfer->due, schedule_.NextStart(transfer->host));
        // One that may start now waits for a running transfer to free its connection.
        if (start <= now) continue;
        const auto until = std::chrono::ceil<std::chrono::milliseconds>(start - now).count();
        wait = std::min<long>(wait, static_cast<long>(until));
    }
    return wait;
}

void FetchEngine::ReportHostWait(const Transfer& awaited) {
    if (!hostWaitReport_) return;
    const int seconds = awaited.state == Transfer::Queued ? schedule_.HostWaitSeconds(awaited.host) : 0;
    if (seconds == reportedWait_) return;
    reportedWait_ = seconds;
    hostWaitReport_(seconds);
}

FetchResult FetchEngine::Wait(int id) {
    const auto found = transfers_.find(id);
    if (found == transfers_.end() || !multi_) return {};
    Transfer& awaited = *found->second;
    while (awaited.state != Transfer::Done) {
        StartReady();
        if (awaited.state == Transfer::Done) break;
        int running = 0;
        curl_multi_perform(multi_, &running);
        Collect();
        if (awaited.state == Transfer::Done) break;
        ReportHostWait(awaited);
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(PollMilliseconds()), nullptr);
    }
    if (reportedWait_ != 0) {
        reportedWait_ = 0;
        if (hostWaitReport_) hostWaitReport_(0);
    }
    FetchResult result = std::move(awaited.result);
    transfers_.erase(found);
    return result;
}
