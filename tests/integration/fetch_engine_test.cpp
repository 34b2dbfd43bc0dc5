// FetchEngine against zorbi-demo-service: parallel answers, retries, the service's rate limit, pictures
// in pieces and the interrupt.
#include "net/fetch_engine.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "catalogue/zorbi_service.h"
#include "demo_service_process.h"

// A stand-in resolver: the lookup of kSlowName hangs until the test lets it go (or half a minute has
// passed); every other name goes to the C library. libcurl's resolver thread calls it.
namespace {
constexpr const char* kSlowName = "slow-lookup.invalid";
std::mutex lookupMutex;
std::condition_variable lookupChanged;
bool lookupStarted = false;
bool lookupReleased = false;
bool lookupEnded = false;
}  // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (!node || std::strcmp(node, kSlowName) != 0) return real(node, service, hints, result);
    std::unique_lock<std::mutex> lock(lookupMutex);
    lookupStarted = true;
    lookupChanged.notify_all();
    lookupChanged.wait_for(lock, std::chrono::seconds(30), [] { return lookupReleased; });
    lookupEnded = true;
    return EAI_NONAME;
}

namespace {

constexpr const char* kApiKey = ZorbiService::kApiKey;

// Answers of the demo user's twelve albums and some pictures, in catalogue order.
std::vector<std::string> Paths(int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        if (i % 3 == 2) {
            paths.push_back("/d" + std::to_string(i) + "/p" + std::to_string(i) + "/medium.jpg");
        } else {
            const int album = 1 + i % 12;
            paths.push_back(std::string("/api/rest/?method=zorbi.albums.getPhotos&api_key=") + kApiKey +
                            "&album_id=721571" + (album < 10 ? "0000" : "000") + std::to_string(album));
        }
    }
    return paths;
}

// Submits every path ahead, then takes the answers in order.
std::vector<FetchResult> FetchAll(FetchEngine& engine, const DemoServiceProcess& service,
                                  const std::vector<std::string>& paths) {
    std::vector<int> ids;
    for (const std::string& path : paths) ids.push_back(engine.Submit({service.baseUrl() + path}));
    std::vector<FetchResult> results;
    for (const int id : ids) results.push_back(engine.Wait(id));
    return results;
}

int CountLines(const std::string& log, const std::string& part) {
    int count = 0;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) count += line.find(part) != std::string::npos;
    return count;
}

// Keeps what it is given, where Begin says it goes.
class MemorySink : public FetchSink {
  public:
    bool Begin(const AnswerHead& head) override {
        const long long offset = head.rangeStart;
        begins.push_back(offset);
        last = head;
        if (offset > static_cast<long long>(bytes.size())) return false;
        bytes.resize(static_cast<size_t>(offset));
        return refuseAfter != 0;
    }
    bool Write(std::string_view data) override {
        bytes.append(data);
        return refuseAfter < 0 || static_cast<long long>(bytes.size()) < refuseAfter;
    }
    std::string bytes;
    std::vector<long long> begins;
    AnswerHead last;
    long long refuseAfter = -1;  // 0: refuses at Begin
};

TEST(FetchEngineTest, ParallelAnswersTakenInOrderMatchOneAtATime) {
    DemoServiceProcess service({"--latency-ms", "30", "--picture-kb", "40"});
    const std::vector<std::string> paths = Paths(30);
    FetchEngine serial;
    serial.SetConnections(1);
    FetchEngine parallel;
    parallel.SetConnections(4);
    const std::vector<FetchResult> expected = FetchAll(serial, service, paths);
    const std::vector<FetchResult> results = FetchAll(parallel, service, paths);
    ASSERT_EQ(results.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i]);
        ASSERT_EQ(expected[i].outcome, FetchResult::Received);
        EXPECT_EQ(results[i].outcome, FetchResult::Received);
        EXPECT_EQ(results[i].status, 200);
        EXPECT_EQ(results[i].body, expected[i].body);
        EXPECT_EQ(results[i].contentLength, static_cast<long long>(expected[i].body.size()));
    }

    // Kept-alive connections: as many as allowed, reused, and one for one at a time.
    for (const int connections : {1, 4}) {
        SCOPED_TRACE(connections);
        FetchEngine engine;
        engine.SetConnections(connections);
        std::set<std::string> peers;
        for (const FetchResult& result : FetchAll(engine, service, std::vector<std::string>(12, "/peer")))
            peers.insert(result.body);
        if (connections == 1)
            EXPECT_EQ(peers.size(), 1u);
        else
            EXPECT_GT(peers.size(), 1u);
        EXPECT_LE(peers.size(), static_cast<size_t>(connections));
    }
}

TEST(FetchEngineTest, RetriesRecoverFromPeriodicFailures) {
    DemoServiceProcess plain;
    DemoServiceProcess failing({"--fail-every", "3"});
    const std::vector<std::string> paths = Paths(30);
    FetchEngine engine;
    const std::vector<FetchResult> expected = FetchAll(engine, plain, paths);
    const std::vector<FetchResult> results = FetchAll(engine, failing, paths);
    for (size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i]);
        EXPECT_EQ(results[i].outcome, FetchResult::Received);
        EXPECT_EQ(results[i].body, expected[i].body);
    }
    EXPECT_GE(CountLines(failing.log(), "\" 503"), 10);

    // Without retries the failures come through as they are.
    engine.SetRetries(0);
    int failures = 0;
    for (const FetchResult& result : FetchAll(engine, failing, paths))
        failures += result.outcome == FetchResult::HttpError && result.status == 503;
    EXPECT_EQ(failures, 10);
}

TEST(FetchEngineTest, ServiceRateLimitIsWaitedOut) {
    DemoServiceProcess service({"--rate-limit", "20", "--retry-after", "1"});
    FetchEngine engine;
    std::vector<int> reported;
    engine.SetHostWaitReport([&](int seconds) { reported.push_back(seconds); });
    for (const FetchResult& result : FetchAll(engine, service, Paths(60)))
        EXPECT_EQ(result.outcome, FetchResult::Received);
    const int tooMany = CountLines(service.log(), "\" 429");
    std::printf("60 requests at 4 connections: the service answered 429 %d times\n", tooMany);
    EXPECT_GT(tooMany, 0);
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(*std::max_element(reported.begin(), reported.end()), 1);
    EXPECT_EQ(reported.back(), 0);

    // Spaced below the limit, no request is turned away.
    DemoServiceProcess spaced({"--rate-limit", "20"});
    engine.SetRate(15);
    for (const FetchResult& result : FetchAll(engine, spaced, Paths(30)))
        EXPECT_EQ(result.outcome, FetchResult::Received);
    EXPECT_EQ(CountLines(spaced.log(), "\" 429"), 0);
}

TEST(FetchEngineTest, PicturesArriveInRangesAndResumeAfterACut) {
    const long long size = 256 * 1024;
    DemoServiceProcess whole({"--picture-kb", "256"});
    DemoServiceProcess cutting({"--picture-kb", "256", "--drop-after", "100000"});
    FetchEngine engine;
    const std::string path = "/d1/p1/large.jpg";

    MemorySink full;
    const FetchResult fullResult = engine.Wait(engine.Submit({whole.baseUrl() + path, -1, &full}));
    ASSERT_EQ(fullResult.outcome, FetchResult::Received);
    EXPECT_TRUE(fullResult.body.empty());
    ASSERT_EQ(static_cast<long long>(full.bytes.size()), size);

    MemorySink part;
    part.bytes = full.bytes.substr(0, 1000);
    const FetchResult partResult = engine.Wait(engine.Submit({whole.baseUrl() + path, 1000, &part}));
    EXPECT_EQ(partResult.outcome, FetchResult::Received);
    EXPECT_EQ(partResult.status, 206);
    EXPECT_EQ(partResult.contentLength, size - 1000);
    EXPECT_EQ(part.begins, std::vector<long long>{1000});
    EXPECT_EQ(part.last.rangeTotal, size);
    EXPECT_EQ(part.bytes, full.bytes);

    // Each attempt is cut after 100000 bytes; each retry asks for the rest.
    MemorySink resumed;
    const FetchResult resumedResult = engine.Wait(engine.Submit({cutting.baseUrl() + path, -1, &resumed}));
    EXPECT_EQ(resumedResult.outcome, FetchResult::Received);
    EXPECT_EQ(resumed.begins, (std::vector<long long>{0, 100000, 200000}));
    EXPECT_EQ(resumed.bytes, full.bytes);

    // A sink that refuses ends the request at once, without retries.
    for (const long long refuseAfter : {0LL, 5000LL}) {
        SCOPED_TRACE(refuseAfter);
        MemorySink refusing;
        refusing.refuseAfter = refuseAfter;
        const FetchResult refused = engine.Wait(engine.Submit({whole.baseUrl() + path, -1, &refusing}));
        EXPECT_EQ(refused.outcome, FetchResult::NetworkError);
        EXPECT_TRUE(refused.sinkRefused);
        EXPECT_EQ(refusing.begins.size(), 1u);
    }
}

TEST(FetchEngineTest, InterruptAbandonsAStalledRequestAndStartsNoOther) {
    DemoServiceProcess service({"--stall-after", "10"});
    std::atomic<bool> interrupt{false};
    FetchEngine engine;
    engine.SetInterruptFlag(&interrupt);
    engine.SetConnections(1);
    const std::vector<std::string> paths = Paths(2);
    const int stalled = engine.Submit({service.baseUrl() + paths[0]});
    const int queued = engine.Submit({service.baseUrl() + paths[1]});

    const auto start = std::chrono::steady_clock::now();
    std::thread job([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        interrupt = true;
    });
    const FetchResult result = engine.Wait(stalled);
    const auto took = std::chrono::steady_clock::now() - start;
    job.join();
    EXPECT_EQ(result.outcome, FetchResult::Interrupted);
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_EQ(engine.Wait(queued).outcome, FetchResult::Interrupted);
    EXPECT_EQ(engine.Wait(engine.Submit({service.baseUrl() + paths[1]})).outcome, FetchResult::Interrupted);
    EXPECT_EQ(CountLines(service.log(), paths[1]), 0);
}

// The resolver thread of an abandoned request is not waited for: an interrupt during a lookup that
// hangs ends the request while the lookup still hangs.
TEST(FetchEngineTest, InterruptDuringANameLookupDoesNotWaitForIt) {
    std::atomic<bool> interrupt{false};
    FetchEngine engine;
    engine.SetInterruptFlag(&interrupt);
    const int id = engine.Submit({std::string("http://") + kSlowName + "/d1/p1/small.jpg"});
    std::thread job([&] {
        std::unique_lock<std::mutex> lock(lookupMutex);
        lookupChanged.wait(lock, [] { return lookupStarted; });
        interrupt = true;
    });
    const FetchResult result = engine.Wait(id);
    job.join();
    {
        std::lock_guard<std::mutex> lock(lookupMutex);
        EXPECT_FALSE(lookupEnded);
        lookupReleased = true;
    }
    lookupChanged.notify_all();
    EXPECT_EQ(result.outcome, FetchResult::Interrupted);
}

}  // namespace
