#pragma once
// Fetches URLs over HTTP with libcurl's multi interface: requests are submitted ahead, run over a few
// kept-alive connections per host, retried after transient failures, and each one's result is taken
// by the caller when and in the order it wants. Single-threaded: transfers move only inside Wait, on
// the thread that calls it.
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "net/fetch_schedule.h"

// What an answer's head says about the body that follows.
struct AnswerHead {
    long status = 200;
    long long contentLength = -1;  // of this answer's body; -1 when not given
    long long rangeStart = 0;      // a 206's first byte in the whole file (Content-Range); 0 otherwise
    long long rangeTotal = -1;     // a 206's whole size (Content-Range); -1 when not given
};

// Takes a streamed body (a picture) instead of memory.
class FetchSink {
  public:
    virtual ~FetchSink() = default;
    // A 2xx answer begins. Called once for every attempt that gets one, before its first bytes (also when
    // it brings none); a retry asks for the bytes after those taken so far. False refuses the answer.
    virtual bool Begin(const AnswerHead& head) = 0;
    // Takes the next bytes of the body; false refuses the rest.
    virtual bool Write(std::string_view bytes) = 0;
};

struct FetchRequest {
    std::string url;
    // Asks for the body from this byte on ("Range: bytes=N-") when 0 or more.
    long long rangeStart = -1;
    // Null: the body is kept in memory, at most FetchEngine::DownloadBufferSize bytes.
    FetchSink* sink = nullptr;
};

// How a request ended.
struct FetchResult {
    enum Outcome {
        Received,      // a complete answer with a 2xx status: `body` holds it (empty with a sink)
        HttpError,     // an answer with another status: `status` holds it
        NetworkError,  // no complete answer: refused, cut, too large, too slow, or the sink refused it
        Interrupted,   // abandoned because the interrupt flag was set
    };
    Outcome outcome = NetworkError;
    long status = 0;
    std::string body;
    // The last answer's Content-Length (of the part, for a 206); -1 when it had none.
    long long contentLength = -1;
    // The sink refused the body.
    bool sinkRefused = false;
    // An answer came but ended short of its Content-Length.
    bool cut = false;
    // The body was refused for its size, announced or counted (memory: DownloadBufferSize, a sink:
    // MaxSinkBytes).
    bool tooLarge = false;
    // The proxy turned the user name or password down: 407, or 401 while a proxy user is set (which is
    // how tinyproxy answers a wrong password). `status` holds which.
    bool proxyRefused = false;
};

// "scheme://name:port" of a URL, in lower case: requests to one of these share connections and waits.
std::string UrlHost(const std::string& url);

class FetchEngine {
  public:
    // The largest body kept in memory: the largest answer the readers take, so that no photo list is
    // refused for its length.
    static constexpr long DownloadBufferSize = 16L * 1024 * 1024;
    // The largest body a sink is given in one answer.
    static constexpr long long MaxSinkBytes = 64LL * 1024 * 1024;
    static constexpr int DefaultConnections = 4;
    static constexpr int MaxConnections = 16;

    FetchEngine();
    ~FetchEngine();
    FetchEngine(const FetchEngine&) = delete;
    FetchEngine& operator=(const FetchEngine&) = delete;

    // The proxy (empty server: the environment's proxy settings apply), its user and password.
    void SetProxy(std::string server, std::string user, std::string password);
    // The proxy port used when the server text names none; outside 1..65535 it is 80.
    void SetProxyPort(int port);
    // Seconds to connect, seconds an attempt may receive nothing, seconds a whole attempt may take.
    void SetTimeouts(long connectSeconds, long idleSeconds, long totalSeconds = 300);
    // Once the flag is set no request starts and those in flight are abandoned within a second.
    void SetInterruptFlag(const std::atomic<bool>* flag) { interrupt_ = flag; }
    // Kept-alive connections per host, 1..MaxConnections; 1 runs one request at a time in all.
    void SetConnections(int connections);
    // Retries after a transient failure (connection failure, time-out, cut transfer, 5xx, 429), 0..10.
    void SetRetries(int retries) { schedule_.SetRetries(retries); }
    // Requests started per second per host; 0 for no limit.
    void SetRate(int perSecond) { schedule_.SetRate(perSecond); }
    // Called inside Wait while the awaited request is held back because its host asked to wait
    // (Retry-After): with the whole seconds left each time that number changes, and 0 once it is over.
    void SetHostWaitReport(std::function<void(int seconds)> report) { hostWaitReport_ = std::move(report); }

    // Queues a request and returns its id (ids grow from 1). It starts inside a later Wait.
    int Submit(FetchRequest request);
    // Runs the transfers until request `id` has ended, then hands its result over and forgets the
    // request. Other requests progress meanwhile and keep their results for their own Wait. An id that
    // is unknown, cancelled or already taken gives a NetworkError.
    FetchResult Wait(int id);
    // Forgets a request: a queued one never starts, one in flight is abandoned, a result is dropped.
    void Cancel(int id);
    void CancelAll();
    // Requests submitted and not yet taken or cancelled.
    int Pending() const { return static_cast<int>(transfers_.size()); }

  private:
    struct Transfer;

    bool Interrupted() const { return interrupt_ && interrupt_->load(); }
    void AbandonAll();
    void StartReady();
    bool Start(Transfer& transfer);
    void Finish(Transfer& transfer, int code);
    void Collect();
    void Remove(Transfer& transfer);
    long PollMilliseconds() const;
    void ReportHostWait(const Transfer& awaited);

    std::string proxyServer_;
    std::string proxyUser_;
    std::string proxyPassword_;
    int proxyPort_ = 80;
    long connectTimeout_ = 60;
    long idleTimeout_ = 60;
    long totalTimeout_ = 300;
    int connections_ = DefaultConnections;
    const std::atomic<bool>* interrupt_ = nullptr;
    std::function<void(int)> hostWaitReport_;
    int reportedWait_ = 0;

    SteadyClock clock_;
    std::minstd_rand random_;
    FetchSchedule schedule_;
    void* multi_;  // the CURLM handle; its connection cache is what keeps connections alive
    int nextId_ = 1;
    std::map<int, std::unique_ptr<Transfer>> transfers_;  // by id: submission order
};
