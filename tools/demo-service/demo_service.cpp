// zorbi-demo-service: a local stand-in for the Zorbi REST interface and picture host, for tests,
// benchmarks and the out-of-the-box demo. Serves only 127.0.0.1.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "sample_world.h"

namespace {

constexpr const char* kApiKey = "5f3e9c07a2d14b6880c1e7f29a3b6d4e";
constexpr const char* kXmlType = "text/xml; charset=utf-8";

const char* kUsage = R"(Usage: zorbi-demo-service [switches]

Serves the Zorbi REST interface (GET /api/rest/?method=...&api_key=...&KEY=VALUE) and the picture
host (GET /DIR/FILENAME/{small,medium,big,large}.jpg) on 127.0.0.1 from a deterministic sample world:
user "demo" (12 albums), user "empty" (no albums) and user "big" (size set below).
Prints "listening on http://127.0.0.1:PORT" on stdout, then one line per request on stderr.

  --port N            port to listen on; 0 (the default) picks a free one
  --big-albums N      albums of user "big" (default 20)
  --big-photos N      photos per album of user "big" (default 250)
  --raw DIR           answer REST requests from files instead of the sample world: the answer to
                      METHOD with query value VALUE is DIR/METHOD/VALUE.xml, sent as it is; a missing
                      file gives the service's error answer (stat="fail") with status 200
  --latency-ms N      wait N milliseconds before every answer
  --chunked           send answers with chunked transfer encoding (no Content-Length)
  --error-status CODE answer every REST request with status CODE and an HTML page
  --drop-after BYTES  close the connection after BYTES body bytes of any longer answer
  --stall-after BYTES send BYTES body bytes of any longer answer, then send nothing more and keep
                      the connection open
  --help              print this text

Routes for tests: /echo-headers (the request's header lines as the body), /peer (the client's port,
which tells connections apart), /redirect/N (N redirects, then a small body), /redirect-to?url=U
(one redirect to U).
)";

struct Options {
    int port = 0;
    SampleWorldSize world;
    std::string rawDir;
    int latencyMs = 0;
    bool chunked = false;
    int errorStatus = 0;
    long dropAfter = -1;
    long stallAfter = -1;
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
        if (name == "--chunked") {
            options.chunked = true;
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
        } else if (name == "--port") {
            ok = ParseLong(value, 0, number) && number <= 65535;
            options.port = static_cast<int>(number);
        } else if (name == "--big-albums") {
            ok = ParseLong(value, 0, number) && number <= 99999;
            options.world.bigAlbums = static_cast<int>(number);
        } else if (name == "--big-photos") {
            ok = ParseLong(value, 0, number) && number <= 99999;
            options.world.bigPhotos = static_cast<int>(number);
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
        } else {
            std::cerr << "zorbi-demo-service: unknown switch " << name << "\n" << kUsage;
            return 2;
        }
        if (!ok) {
            std::cerr << "zorbi-demo-service: bad value for " << name << ": " << value << "\n";
            return 2;
        }
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

std::string ErrorPage(int status) {
    const std::string code = std::to_string(status);
    return "<!DOCTYPE html>\n<html><head><title>Error " + code + "</title></head>\n<body><h1>Error " + code +
           "</h1><p>The demo service was told to fail.</p></body></html>\n";
}

// Sends a body as the switches say: after the injected latency, chunked or with Content-Length, whole or
// dropped or stalled part way.
class Sender {
  public:
    explicit Sender(const Options& options) : options_(options) {}

    void Send(httplib::Response& res, std::string body, const char* type) const {
        if (options_.latencyMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(options_.latencyMs));
        const long size = static_cast<long>(body.size());
        const bool drop = options_.dropAfter >= 0 && size > options_.dropAfter;
        const bool stall = !drop && options_.stallAfter >= 0 && size > options_.stallAfter;
        if (!options_.chunked && !drop && !stall) {
            res.set_content(std::move(body), type);
            return;
        }
        const size_t cut = drop ? options_.dropAfter : stall ? options_.stallAfter : body.size();
        auto shared = std::make_shared<std::string>(std::move(body));
        auto deliver = [shared, cut, drop, stall](size_t offset, httplib::DataSink& sink) {
            if (offset < cut) {
                const size_t piece = std::min<size_t>(16 * 1024, cut - offset);
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
        } else {
            res.set_content_provider(
                shared->size(), type,
                [deliver](size_t offset, size_t, httplib::DataSink& sink) { return deliver(offset, sink); });
        }
    }

  private:
    const Options& options_;
};

int PictureSizeIndex(const std::string& name) {
    if (name == "small") return 0;
    if (name == "medium") return 1;
    if (name == "big") return 2;
    return 3;
}

void AddRoutes(httplib::Server& server, const Options& options, const SampleWorld& world,
               const Sender& sender) {
    auto rest = [&](const httplib::Request& req, httplib::Response& res) {
        if (options.errorStatus != 0) {
            res.status = options.errorStatus;
            sender.Send(res, ErrorPage(options.errorStatus), "text/html");
            return;
        }
        const std::string method = req.get_param_value("method");
        std::string answer;
        if (req.get_param_value("api_key") != kApiKey) {
            answer = ErrorAnswer(100, "Invalid API Key");
        } else {
            const std::string value = req.get_param_value(QueryKeyOf(method).c_str());
            answer = options.rawDir.empty() ? world.Answer(method, value)
                                            : RawAnswer(options.rawDir, method, value);
        }
        sender.Send(res, std::move(answer), kXmlType);
    };
    server.Get("/api/rest/", rest);
    server.Get("/api/rest", rest);

    server.Get(R"(/([^/]+)/([^/]+)/(small|medium|big|large)\.jpg)",
               [&](const httplib::Request& req, httplib::Response& res) {
                   const std::string seed = req.matches[1].str() + "/" + req.matches[2].str();
                   // Browsers sniff pictures, so PNG bytes show fine under a .jpg address.
                   sender.Send(res, PictureBytes(seed, PictureSizeIndex(req.matches[3].str())), "image/png");
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

    const SampleWorld world(options.world);
    const Sender sender(options);
    httplib::Server server;
    // Idle kept-alive connections and stalled answers each hold a worker.
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    server.set_keep_alive_max_count(100000);
    server.set_keep_alive_timeout(120);
    // Headers and body go out in separate writes: without this, Nagle and delayed ACKs stall each answer.
    server.set_tcp_nodelay(true);
    server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        std::fprintf(stderr, "%s:%d \"%s %s\" %d\n", req.remote_addr.c_str(), req.remote_port,
                     req.method.c_str(), req.target.c_str(), res.status);
    });
    AddRoutes(server, options, world, sender);

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
    std::thread([&server, signals] {
        int received = 0;
        sigwait(&signals, &received);
        stopping = true;
        server.stop();
        // The server waits for idle kept-alive connections to time out before it returns; a short grace
        // period lets answers in flight finish, then the process ends regardless.
        for (int i = 0; i < 20 && !finished; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::fflush(nullptr);
        std::_Exit(0);
    }).detach();

    std::cout << "listening on http://127.0.0.1:" << port << std::endl;
    server.listen_after_bind();
    finished = true;
    return 0;
}
