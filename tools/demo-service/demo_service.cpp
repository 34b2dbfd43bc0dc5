// zorbi-demo-service: a local stand-in for the Zorbi REST interface and picture host, for tests,
// benchmarks and the out-of-the-box demo. Serves only 127.0.0.1.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "catalogue/zorbi_service.h"
#include "sample_world.h"

namespace {

constexpr const char* kXmlType = "text/xml; charset=utf-8";

const char* kUsage = R"(Usage: zorbi-demo-service [switches]

Serves the Zorbi REST interface (GET /api/rest/?method=...&api_key=...&KEY=VALUE) and the picture
host (GET /DIR/FILENAME/{small,medium,big,large}.jpg) on 127.0.0.1 from a deterministic sample world:
user "demo" (12 albums), user "empty" (no albums) and user "big" (size set below).
Prints "listening on http://127.0.0.1:PORT" on stdout, then one line per request on stderr.

  --port N            port to listen on; 0 (the default) picks a free one
  --big-albums N      albums of user "big" (default 20)
  --big-photos N      photos per album of user "big" (default 250)
  --big-extra-album N one more album of user "big", after the others, with N photos (default 0: none)
  --remove ID         leave the album or photo ID out of every answer, as when its owner deleted it
                      (a removed album's photo list and a removed photo's details are the service's
                      "not found" error answers); may be repeated
  --title ID=TEXT     give the album or photo ID the title TEXT; may be repeated
  --raw DIR           answer REST requests from files instead of the sample world: the answer to
                      METHOD with query value VALUE is DIR/METHOD/VALUE.xml, sent as it is; a missing
                      file gives the service's error answer (stat="fail") with status 200
  --latency-ms N      wait N milliseconds before every answer
  --chunked           send answers with chunked transfer encoding (no Content-Length)
  --error-status CODE answer every REST request with status CODE and an HTML page
  --drop-after BYTES  close the connection after BYTES body bytes of any longer answer
  --stall-after BYTES send BYTES body bytes of any longer answer, then send nothing more and keep
                      the connection open
  --only METHOD[=VALUE]
                      choose the REST requests that --bad-answer, --fail-answer and --trickle apply
                      to: those of METHOD (e.g. zorbi.photos.getInfo), and with VALUE only those whose
                      query value is VALUE (e.g. zorbi.albums.getPhotos=72157100001); may be repeated;
                      without it every REST request is chosen
  --bad-answer KIND   answer the chosen REST requests with something that is no answer, KIND one of
                        html       an HTML error page, status 200
                        empty      an empty body, status 200
                        nocontent  status 204, no body
                        short      the Content-Length of the real answer, half its bytes, then the
                                   connection is closed
                        gzip       the real answer gzip-compressed, without Content-Encoding
                        utf16      the real answer re-encoded as UTF-16LE with a byte order mark (its
                                   text, the XML declaration too, is unchanged)
                        deep       well-formed XML 1000 elements deep, <rsp stat="ok"> outermost
                        noroot     the real answer with its root element rsp renamed to answer
  --fail-answer MESSAGE
                      answer the chosen REST requests with the service's error answer, code 1 and
                      message MESSAGE, status 200
  --trickle BYTES     send the body of the chosen REST answers at BYTES bytes a second, with its
                      Content-Length
  --picture-kb N      serve every picture as a baseline JPEG of exactly N KiB (N * 1024 bytes): stripes
                      in a colour that follows from its address, padded with comment segments; the same
                      address and N always give the same bytes (without it pictures are small PNGs)
  --no-range          ignore Range headers: pictures are answered 200 with all their bytes
  --html-pictures     answer every picture with an HTML error page, status 200
  --picture-status CODE
                      answer every picture with status CODE and an HTML page
  --cut-pictures      answer every picture 206 with at most its first 100 bytes from the start asked
                      for, under an honest Content-Range (bytes 0-99/TOTAL without a Range header)
  --wrong-range       answer a picture asked for from byte START (START > 0) with 206 and its bytes
                      from START/2 on, under a Content-Range that says so
  --cut-unsized-pictures
                      send every picture without Content-Length (the end of the body is the end of
                      the connection) and close the connection after half its bytes
  --slow-pictures MS  send the first half of every picture's bytes at once and the rest MS
                      milliseconds later
  --rate-limit N      take at most N requests in any one second; the others are answered 429 with
                      Retry-After and an HTML page
  --retry-after S     the seconds of that Retry-After (default 1)
  --fail-every N      answer every Nth request (any route, counting those --rate-limit lets through)
                      with status 503 and an HTML page
  --help              print this text

Pictures honour a single range (Range: bytes=START-, START-END or -LENGTH) with 206 and Content-Range,
and answer 416 to a range that starts past their end. With --rate-limit or --fail-every, each log line
of a 429 or 503 answer ends with "[429 answers: N]" or "[503 answers: N]", N counting such answers so
far, and the service prints "zorbi-demo-service: 429 answers: N" (and 503) on stderr when it stops.

Routes for tests: /echo-headers (the request's header lines as the body), /peer (the client's port,
which tells connections apart), /redirect/N (N redirects, then a small body), /redirect-to?url=U
(one redirect to U), /ping and /ping/fail (a short 200 answer, as a monitoring service gives).
)";

enum class BadAnswer { kNone, kHtml, kEmpty, kNoContent, kShort, kGzip, kUtf16, kDeep, kNoRoot };

bool ParseBadAnswer(const std::string& name, BadAnswer& kind) {
    static const std::pair<const char*, BadAnswer> kKinds[] = {
        {"html", BadAnswer::kHtml},   {"empty", BadAnswer::kEmpty},  {"nocontent", BadAnswer::kNoContent},
        {"short", BadAnswer::kShort}, {"gzip", BadAnswer::kGzip},    {"utf16", BadAnswer::kUtf16},
        {"deep", BadAnswer::kDeep},   {"noroot", BadAnswer::kNoRoot}};
    for (const auto& [text, value] : kKinds) {
        if (name == text) {
            kind = value;
            return true;
        }
    }
    return false;
}

// One --only: a method, and a query value unless any will do.
struct Choice {
    std::string method;
    std::string value;
    bool anyValue = true;
};

struct Options {
    int port = 0;
    SampleWorldSize world;
    std::set<std::string> removed;
    std::map<std::string, std::string> titles;
    std::string rawDir;
    int latencyMs = 0;
    bool chunked = false;
    int errorStatus = 0;
    long dropAfter = -1;
    long stallAfter = -1;
    std::vector<Choice> only;
    BadAnswer badAnswer = BadAnswer::kNone;
    bool failAnswer = false;
    std::string failMessage;
    long trickle = 0;
    long pictureKb = 0;
    bool noRange = false;
    bool htmlPictures = false;
    int pictureStatus = 0;
    bool cutPictures = false;
    bool wrongRange = false;
    bool cutUnsizedPictures = false;
    long slowPicturesMs = 0;
    long rateLimit = 0;
    long retryAfter = 1;
    long failEvery = 0;
};

std::atomic<bool> stopping{false};

bool ParseLong(const std::string& text, long minimum, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && value >= minimum;
}

// Returns 0 to run, 1 when the usage was printed on request, 2 on a usage error.
int ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (name == "--help") {
            std::cout << kUsage;
            return 1;
        }
        bool* flag = name == "--chunked"                ? &options.chunked
                     : name == "--no-range"             ? &options.noRange
                     : name == "--html-pictures"        ? &options.htmlPictures
                     : name == "--cut-pictures"         ? &options.cutPictures
                     : name == "--wrong-range"          ? &options.wrongRange
                     : name == "--cut-unsized-pictures" ? &options.cutUnsizedPictures
                                                        : nullptr;
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        if (equals == std::string::npos) {
            if (i + 1 >= argc) {
                std::cerr << "zorbi-demo-service: " << name << " needs a value\n" << kUsage;
                return 2;
            }
            value = argv[++i];
        }
        long number = 0;
        bool ok = true;
        if (name == "--raw") {
            options.rawDir = value;
        } else if (name == "--remove") {
            ok = !value.empty();
            options.removed.insert(value);
        } else if (name == "--title") {
            const size_t split = value.find('=');
            ok = split != std::string::npos && split > 0;
            if (ok) options.titles[value.substr(0, split)] = value.substr(split + 1);
        } else if (name == "--port") {
            ok = ParseLong(value, 0, number) && number <= 65535;
            options.port = static_cast<int>(number);
        } else if (name == "--big-albums") {
            ok = ParseLong(value, 0, number) && number <= 99999;
            options.world.bigAlbums = static_cast<int>(number);
        } else if (name == "--big-photos") {
            ok = ParseLong(value, 0, number) && number <= 99999;
            options.world.bigPhotos = static_cast<int>(number);
        } else if (name == "--big-extra-album") {
            ok = ParseLong(value, 0, number) && number <= 99999;
            options.world.bigExtraPhotos = static_cast<int>(number);
        } else if (name == "--latency-ms") {
            ok = ParseLong(value, 0, number) && number <= 3600000;
            options.latencyMs = static_cast<int>(number);
        } else if (name == "--error-status") {
            ok = ParseLong(value, 100, number) && number <= 599;
            options.errorStatus = static_cast<int>(number);
        } else if (name == "--drop-after") {
            ok = ParseLong(value, 0, options.dropAfter);
        } else if (name == "--stall-after") {
            ok = ParseLong(value, 0, options.stallAfter);
        } else if (name == "--only") {
            Choice choice;
            const size_t split = value.find('=');
            choice.method = value.substr(0, split);
            if (split != std::string::npos) {
                choice.value = value.substr(split + 1);
                choice.anyValue = false;
            }
            ok = !choice.method.empty();
            options.only.push_back(choice);
        } else if (name == "--bad-answer") {
            ok = ParseBadAnswer(value, options.badAnswer);
        } else if (name == "--fail-answer") {
            options.failAnswer = true;
            options.failMessage = value;
        } else if (name == "--trickle") {
            ok = ParseLong(value, 1, options.trickle);
        } else if (name == "--picture-kb") {
            ok = ParseLong(value, 1, options.pictureKb) && options.pictureKb <= 1024 * 1024;
        } else if (name == "--picture-status") {
            ok = ParseLong(value, 100, number) && number <= 599;
            options.pictureStatus = static_cast<int>(number);
        } else if (name == "--slow-pictures") {
            ok = ParseLong(value, 0, options.slowPicturesMs) && options.slowPicturesMs <= 3600000;
        } else if (name == "--rate-limit") {
            ok = ParseLong(value, 1, options.rateLimit);
        } else if (name == "--retry-after") {
            ok = ParseLong(value, 0, options.retryAfter);
        } else if (name == "--fail-every") {
            ok = ParseLong(value, 1, options.failEvery);
        } else {
            std::cerr << "zorbi-demo-service: unknown switch " << name << "\n" << kUsage;
            return 2;
        }
        if (!ok) {
            std::cerr << "zorbi-demo-service: bad value for " << name << ": " << value << "\n";
            return 2;
        }
    }
    if (options.failAnswer && options.badAnswer != BadAnswer::kNone) {
        std::cerr << "zorbi-demo-service: --bad-answer and --fail-answer exclude each other\n";
        return 2;
    }
    if (options.world.bigExtraPhotos > 0 && options.world.bigAlbums >= 99999) {
        std::cerr << "zorbi-demo-service: --big-extra-album needs --big-albums below 99999\n";  // 5-digit ids
        return 2;
    }
    return 0;
}

bool IsSafeName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                          c == '@' || c == '.' || c == '_' || c == '-';
        if (!safe) return false;
    }
    return true;
}

std::string RawAnswer(const std::string& dir, const std::string& method, const std::string& value) {
    if (QueryKeyOf(method).empty()) return ErrorAnswer(112, "Method \"" + method + "\" not found");
    if (!IsSafeName(value)) return ErrorAnswer(1, "No raw answer for " + method);
    std::ifstream file(dir + "/" + method + "/" + value + ".xml", std::ios::binary);
    if (!file) return ErrorAnswer(1, "No raw answer for " + method + " " + value);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

std::string HtmlPage(const std::string& title, const std::string& text) {
    return "<!DOCTYPE html>\n<html><head><title>" + title + "</title></head>\n<body><h1>" + title +
           "</h1><p>" + text + "</p></body></html>\n";
}

std::string ErrorPage(int status) {
    return HtmlPage("Error " + std::to_string(status), "The demo service was told to fail.");
}

bool IsChosen(const Options& options, const std::string& method, const std::string& value) {
    if (options.only.empty()) return true;
    for (const Choice& choice : options.only)
        if (choice.method == method && (choice.anyValue || choice.value == value)) return true;
    return false;
}

// UTF-8 to UTF-16LE behind a byte order mark; a byte that starts no UTF-8 sequence becomes U+FFFD.
std::string Utf16Le(const std::string& text) {
    std::string out("\xff\xfe", 2);
    auto put = [&out](uint32_t unit) {
        out += static_cast<char>(unit & 0xff);
        out += static_cast<char>(unit >> 8);
    };
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80    ? 1
                              : lead >= 0xf8 ? 0
                              : lead >= 0xf0 ? 4
                              : lead >= 0xe0 ? 3
                              : lead >= 0xc0 ? 2
                                             : 0;
        uint32_t code = 0xfffd;
        if (length == 0 || i + length > text.size()) {
            ++i;
        } else {
            code = length == 1 ? lead : lead & (0x7f >> length);
            for (size_t k = 1; k < length; ++k)
                code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3f);
            i += length;
        }
        if (code > 0x10ffff) code = 0xfffd;
        if (code >= 0x10000) {
            put(0xd800 + ((code - 0x10000) >> 10));
            put(0xdc00 + ((code - 0x10000) & 0x3ff));
        } else {
            put(code);
        }
    }
    return out;
}

// Well-formed, and 1000 elements deep counting the root.
std::string DeepAnswer() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<rsp stat=\"ok\">";
    for (int level = 1; level < 1000; ++level) xml += "<nest>";
    for (int level = 1; level < 1000; ++level) xml += "</nest>";
    return xml + "</rsp>\n";
}

// The same document under another root element.
std::string RenamedRoot(std::string answer) {
    const size_t open = answer.find("<rsp");
    const size_t close = answer.rfind("</rsp>");
    if (open == std::string::npos || close == std::string::npos || close < open)
        return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<answer stat=\"ok\"/>\n";
    answer.replace(close, 6, "</answer>");
    answer.replace(open, 4, "<answer");
    return answer;
}

// What one answer's body needs beyond what the switches say for every answer.
struct Delivery {
    long cutAfter = -1;       // close the connection after this many body bytes, Content-Length counting all
    long bytesPerSecond = 0;  // pace the body; 0 sends it at once
    bool asIs = false;        // through a content provider, which the library never compresses
    bool unsized = false;     // without Content-Length: the body ends with the connection
    long pauseAfter = -1;     // after this many body bytes, wait pauseMs
    long pauseMs = 0;
};

// Sleeps, in short steps so that stopping the service is not held up; false when it is stopping.
bool Idle(std::chrono::microseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (!stopping) {
        const auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50)));
    }
    return false;
}

// Sends a body as the switches say: after the injected latency, chunked or with Content-Length, whole or
// dropped or stalled part way, at once or paced.
class Sender {
  public:
    explicit Sender(const Options& options) : options_(options) {}

    void Delay() const {
        if (options_.latencyMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(options_.latencyMs));
    }

    void Send(httplib::Response& res, std::string body, const char* type, Delivery delivery = {}) const {
        Delay();
        const long size = static_cast<long>(body.size());
        long cut = -1;
        for (long limit : {delivery.cutAfter, options_.dropAfter})
            if (limit >= 0 && size > limit && (cut < 0 || limit < cut)) cut = limit;
        const bool drop = cut >= 0;
        const bool stall = !drop && options_.stallAfter >= 0 && size > options_.stallAfter;
        const long rate = delivery.bytesPerSecond;
        const long pauseAfter = delivery.pauseAfter, pauseMs = delivery.pauseMs;
        if (!options_.chunked && !drop && !stall && rate == 0 && !delivery.asIs && !delivery.unsized &&
            pauseAfter < 0) {
            res.set_content(std::move(body), type);
            return;
        }
        const size_t end = drop ? cut : stall ? options_.stallAfter : body.size();
        auto shared = std::make_shared<std::string>(std::move(body));
        auto deliver = [shared, end, drop, stall, rate, pauseAfter, pauseMs](size_t offset,
                                                                             httplib::DataSink& sink) {
            if (offset < end) {
                size_t piece = std::min<size_t>(16 * 1024, end - offset);
                const auto pauseAt = static_cast<size_t>(pauseAfter);
                if (pauseAfter >= 0 && offset == pauseAt && !Idle(std::chrono::milliseconds(pauseMs)))
                    return false;
                if (pauseAfter >= 0 && offset < pauseAt) piece = std::min(piece, pauseAt - offset);
                if (rate > 0) {
                    // A tenth of a second's worth at a time, at least a byte.
                    piece = std::min<size_t>(piece, std::max<long>(1, rate / 10));
                    if (!Idle(std::chrono::microseconds(static_cast<long>(piece) * 1000000 / rate)))
                        return false;
                }
                return sink.write(shared->data() + offset, piece);
            }
            if (drop) return false;  // returning false makes the server close the connection
            if (stall) {
                while (!stopping) std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return false;
            }
            sink.done();
            return true;
        };
        if (options_.chunked) {
            res.set_chunked_content_provider(type, deliver);
        } else if (delivery.unsized) {
            res.set_content_provider(type, deliver);
        } else {
            res.set_content_provider(
                shared->size(), type,
                [deliver](size_t offset, size_t, httplib::DataSink& sink) { return deliver(offset, sink); });
        }
    }

  private:
    const Options& options_;
};

// At most `limit` requests taken in any one second.
class RateLimiter {
  public:
    explicit RateLimiter(long limit) : limit_(limit) {}

    bool Take() {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(mutex_);
        while (!taken_.empty() && now - taken_.front() >= std::chrono::seconds(1)) taken_.pop_front();
        if (static_cast<long>(taken_.size()) >= limit_) return false;
        taken_.push_back(now);
        return true;
    }

  private:
    const long limit_;
    std::mutex mutex_;
    std::deque<std::chrono::steady_clock::time_point> taken_;
};

// Counters shared by every worker thread.
struct Traffic {
    explicit Traffic(long rateLimit) : limiter(rateLimit) {}
    RateLimiter limiter;
    std::atomic<long> requests{0};
    std::atomic<long> tooMany{0};
    std::atomic<long> unavailable{0};
};

// The library answers a Range header by itself, on every route and before a handler may say otherwise;
// forgetting the parsed ranges leaves the answer to the handler. The request is the server's own
// non-const object, handed to handlers as const.
void ForgetRange(const httplib::Request& req) {
    const_cast<httplib::Request&>(req).ranges.clear();
}

enum class RangeAnswer { kWhole, kPart, kUnsatisfiable };

// One range of bytes=START-, START-END or -LENGTH, over a body of `size` bytes; several ranges or a
// malformed one give the whole body.
RangeAnswer ParseRange(const std::string& header, size_t size, size_t& first, size_t& last) {
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0) return RangeAnswer::kWhole;
    const std::string spec = header.substr(prefix.size());
    const size_t dash = spec.find('-');
    if (dash == std::string::npos || spec.find(',') != std::string::npos) return RangeAnswer::kWhole;
    auto number = [](const std::string& digits, size_t& value) {
        if (digits.empty() || digits.size() > 18 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        value = std::stoull(digits);
        return true;
    };
    const std::string from = spec.substr(0, dash);
    const std::string to = spec.substr(dash + 1);
    size_t start = 0;
    size_t stop = 0;
    if (from.empty()) {
        if (!number(to, stop)) return RangeAnswer::kWhole;
        if (stop == 0 || size == 0) return RangeAnswer::kUnsatisfiable;
        first = size - std::min(stop, size);
        last = size - 1;
        return RangeAnswer::kPart;
    }
    if (!number(from, start)) return RangeAnswer::kWhole;
    if (to.empty()) {
        stop = size;
    } else if (!number(to, stop) || stop < start) {
        return RangeAnswer::kWhole;
    }
    if (start >= size) return RangeAnswer::kUnsatisfiable;
    first = start;
    last = std::min(stop, size - 1);
    return RangeAnswer::kPart;
}

int PictureSizeIndex(const std::string& name) {
    if (name == "small") return 0;
    if (name == "medium") return 1;
    if (name == "big") return 2;
    return 3;
}

void AddRoutes(httplib::Server& server, const Options& options, const SampleWorld& world,
               const Sender& sender, Traffic& traffic) {
    // Refusals come before any route, and their short pages at once.
    server.set_pre_routing_handler([&](const httplib::Request& req, httplib::Response& res) {
        if (options.noRange) ForgetRange(req);
        if (options.rateLimit > 0 && !traffic.limiter.Take()) {
            ForgetRange(req);
            res.status = 429;
            res.set_header("Retry-After", std::to_string(options.retryAfter));
            res.set_content(HtmlPage("Error 429", "Too many requests: the demo service takes " +
                                                      std::to_string(options.rateLimit) + " a second."),
                            "text/html");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (options.failEvery > 0 && ++traffic.requests % options.failEvery == 0) {
            ForgetRange(req);
            res.status = 503;
            res.set_content(HtmlPage("Error 503", "The demo service is briefly unavailable."), "text/html");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    auto rest = [&](const httplib::Request& req, httplib::Response& res) {
        if (options.errorStatus != 0) {
            res.status = options.errorStatus;
            sender.Send(res, ErrorPage(options.errorStatus), "text/html");
            return;
        }
        const std::string method = req.get_param_value("method");
        const std::string value = req.get_param_value(QueryKeyOf(method).c_str());
        std::string answer;
        if (req.get_param_value("api_key") != ZorbiService::kApiKey) {
            answer = ErrorAnswer(100, "Invalid API Key");
        } else {
            answer = options.rawDir.empty() ? world.Answer(method, value)
                                            : RawAnswer(options.rawDir, method, value);
        }
        if (!IsChosen(options, method, value)) {
            sender.Send(res, std::move(answer), kXmlType);
            return;
        }
        Delivery delivery;
        delivery.bytesPerSecond = options.trickle;
        if (options.failAnswer) answer = ErrorAnswer(1, options.failMessage);
        const char* type = kXmlType;
        switch (options.badAnswer) {
            case BadAnswer::kNone:
                break;
            case BadAnswer::kHtml:
                answer = HtmlPage("Service Unavailable", "Please try again later.");
                type = "text/html";
                break;
            case BadAnswer::kEmpty:
                answer.clear();
                break;
            case BadAnswer::kNoContent:
                sender.Delay();
                res.status = 204;
                return;
            case BadAnswer::kShort:
                delivery.cutAfter = static_cast<long>(answer.size() / 2);
                break;
            case BadAnswer::kGzip:
                answer = GzipBytes(answer);
                delivery.asIs = true;  // no Content-Encoding may tell the client
                break;
            case BadAnswer::kUtf16:
                answer = Utf16Le(answer);
                type = "text/xml; charset=utf-16";
                break;
            case BadAnswer::kDeep:
                answer = DeepAnswer();
                break;
            case BadAnswer::kNoRoot:
                answer = RenamedRoot(std::move(answer));
                break;
        }
        sender.Send(res, std::move(answer), type, delivery);
    };
    server.Get("/api/rest/", rest);
    server.Get("/api/rest", rest);

    server.Get(R"(/([^/]+)/([^/]+)/(small|medium|big|large)\.jpg)", [&](const httplib::Request& req,
                                                                        httplib::Response& res) {
        ForgetRange(req);
        if (options.htmlPictures) {
            sender.Send(res, HtmlPage("Picture unavailable", "This picture cannot be shown."), "text/html");
            return;
        }
        if (options.pictureStatus != 0) {
            res.status = options.pictureStatus;
            sender.Send(res, ErrorPage(options.pictureStatus), "text/html");
            return;
        }
        const std::string seed = req.matches[1].str() + "/" + req.matches[2].str();
        const int sizeIndex = PictureSizeIndex(req.matches[3].str());
        // Browsers sniff pictures, so PNG bytes show fine under a .jpg address.
        std::string picture =
            options.pictureKb > 0
                ? JpegPictureBytes(seed, sizeIndex, static_cast<size_t>(options.pictureKb) * 1024)
                : PictureBytes(seed, sizeIndex);
        const char* type = options.pictureKb > 0 ? "image/jpeg" : "image/png";
        res.set_header("Accept-Ranges", options.noRange ? "none" : "bytes");
        size_t first = 0;
        size_t last = 0;
        RangeAnswer range = options.noRange || !req.has_header("Range")
                                ? RangeAnswer::kWhole
                                : ParseRange(req.get_header_value("Range"), picture.size(), first, last);
        if (range == RangeAnswer::kPart && options.wrongRange) first /= 2;
        if (options.cutPictures && range != RangeAnswer::kUnsatisfiable) {
            if (range == RangeAnswer::kWhole) last = picture.size() - 1;
            range = RangeAnswer::kPart;
            last = std::min(last, first + 99);
        }
        const std::string size = std::to_string(picture.size());
        if (range == RangeAnswer::kPart) {
            res.status = 206;
            res.set_header("Content-Range",
                           "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + size);
            picture = picture.substr(first, last - first + 1);
        } else if (range == RangeAnswer::kUnsatisfiable) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + size);
            sender.Delay();
            return;
        }
        Delivery delivery;
        if (options.cutUnsizedPictures) {
            delivery.unsized = true;
            delivery.cutAfter = static_cast<long>(picture.size() / 2);
        }
        if (options.slowPicturesMs > 0) {
            delivery.pauseAfter = static_cast<long>(picture.size() / 2);
            delivery.pauseMs = options.slowPicturesMs;
        }
        sender.Send(res, std::move(picture), type, delivery);
    });

    server.Get("/echo-headers", [&](const httplib::Request& req, httplib::Response& res) {
        std::string lines;
        for (const auto& [name, value] : req.headers) {
            // The server adds these itself; they never came over the wire.
            if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
                name == "LOCAL_PORT")
                continue;
            lines += name + ": " + value + "\n";
        }
        sender.Send(res, lines, "text/plain");
    });
    server.Get("/peer", [&](const httplib::Request& req, httplib::Response& res) {
        sender.Send(res, std::to_string(req.remote_port) + "\n", "text/plain");
    });
    server.Get(R"(/redirect/(\d+))", [&](const httplib::Request& req, httplib::Response& res) {
        const long remaining = std::strtol(req.matches[1].str().c_str(), nullptr, 10);
        if (remaining > 0) {
            res.set_redirect("/redirect/" + std::to_string(remaining - 1));
            return;
        }
        sender.Send(res, "redirected\n", "text/plain");
    });
    server.Get("/redirect-to", [&](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect(req.get_param_value("url"));
    });
    server.Get(R"(/ping(/fail)?)", [&](const httplib::Request&, httplib::Response& res) {
        sender.Send(res, "OK\n", "text/plain");
    });
}

// The counts a benchmark reads from the end of the log; once, whichever way the service stops.
void PrintCounts(const Options& options, const Traffic& traffic) {
    static std::atomic<bool> printed{false};
    if (printed.exchange(true)) return;
    if (options.rateLimit > 0)
        std::fprintf(stderr, "zorbi-demo-service: 429 answers: %ld\n", traffic.tooMany.load());
    if (options.failEvery > 0)
        std::fprintf(stderr, "zorbi-demo-service: 503 answers: %ld\n", traffic.unavailable.load());
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int parsed = ParseOptions(argc, argv, options); parsed != 0) return parsed == 1 ? 0 : 2;

    // Signals are taken by one thread with sigwait, so stopping the server happens outside a handler.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    const SampleWorld world(options.world, options.removed, options.titles);
    const Sender sender(options);
    Traffic traffic(options.rateLimit);
    httplib::Server server;
    // Idle kept-alive connections and stalled answers each hold a worker.
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    server.set_keep_alive_max_count(100000);
    server.set_keep_alive_timeout(120);
    // Headers and body go out in separate writes: without this, Nagle and delayed ACKs stall each answer.
    server.set_tcp_nodelay(true);
    server.set_logger([&options, &traffic](const httplib::Request& req, const httplib::Response& res) {
        std::string count;
        if (res.status == 429 && options.rateLimit > 0)
            count = " [429 answers: " + std::to_string(++traffic.tooMany) + "]";
        else if (res.status == 503 && options.failEvery > 0)
            count = " [503 answers: " + std::to_string(++traffic.unavailable) + "]";
        std::fprintf(stderr, "%s:%d \"%s %s\" %d%s\n", req.remote_addr.c_str(), req.remote_port,
                     req.method.c_str(), req.target.c_str(), res.status, count.c_str());
    });
    AddRoutes(server, options, world, sender, traffic);

    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port("127.0.0.1");
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        port = -1;
    }
    if (port <= 0) {
        std::cerr << "zorbi-demo-service: cannot listen on 127.0.0.1:" << options.port << "\n";
        return 1;
    }

    static std::atomic<bool> finished{false};
    std::thread([&server, &options, &traffic, signals] {
        int received = 0;
        sigwait(&signals, &received);
        stopping = true;
        server.stop();
        // The server waits for idle kept-alive connections to time out before it returns; a short grace
        // period lets answers in flight finish, then the process ends regardless.
        for (int i = 0; i < 20 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        PrintCounts(options, traffic);
        std::fflush(nullptr);
        std::_Exit(0);
    }).detach();

    std::cout << "listening on http://127.0.0.1:" << port << std::endl;
    server.listen_after_bind();
    PrintCounts(options, traffic);
    finished = true;
    return 0;
}
