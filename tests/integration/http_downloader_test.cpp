// HttpDownloader against zorbi-demo-service and a real tinyproxy, both started on free ports.
#include "net/http_downloader.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "catalogue/zorbi_service.h"
#include "child_process.h"
#include "demo_service_process.h"
#include "temp_dir.h"
#include "test_files.h"

namespace {

constexpr const char* kApiKey = ZorbiService::kApiKey;
const std::string kOldAnswer = "<rsp stat=\"ok\">the answer of an earlier run</rsp>";

std::string RestUrl(const DemoServiceProcess& service, const std::string& method, const std::string& key,
                    const std::string& value) {
    return service.baseUrl() + "/api/rest/?method=" + method + "&api_key=" + kApiKey + "&" + key + "=" +
           value;
}

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// A port nothing listens on at the moment.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Proxy variables of the environment running the tests must not steer the downloads.
void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
}

class DownloaderTest : public testing::Test {
  protected:
    void SetUp() override {
        ClearProxyEnvironment();
        WriteFile(target, kOldAnswer);
    }
    void TearDown() override { ClearProxyEnvironment(); }

    TempDir folder{"http-downloader-test"};
    const std::string target = folder / "answer.xml";
};

TEST_F(DownloaderTest, StoresTheWholeBodyOverALongerOldFile) {
    DemoServiceProcess service;
    WriteFile(target, std::string(20000, 'x'));
    HttpDownloader downloader;

    const int stored =
        downloader.Download(target, RestUrl(service, "zorbi.albums.getList", "user_id", "10001@N01"));
    const std::string contents = ReadFile(target);
    EXPECT_EQ(stored, static_cast<int>(contents.size()));
    EXPECT_NE(contents.find("<title>西湖春游</title>"), std::string::npos);
    EXPECT_EQ(contents.substr(contents.size() - 7), "</rsp>\n");

    // The service's own errors come with status 200: they are answers to store, not failures.
    const int error =
        downloader.Download(target, RestUrl(service, "zorbi.people.findByUsername", "username", "nobody"));
    EXPECT_EQ(error, static_cast<int>(ReadFile(target).size()));
    EXPECT_NE(ReadFile(target).find("msg=\"User not found\""), std::string::npos);
}

TEST_F(DownloaderTest, EmptyBodyLeavesAnEmptyFileAndReturnsZero) {
    const std::string raw = folder / "raw";
    ::mkdir(raw.c_str(), 0777);
    ::mkdir((raw + "/zorbi.people.findByUsername").c_str(), 0777);
    WriteFile(raw + "/zorbi.people.findByUsername/nobody.xml", "");

    for (bool chunked : {false, true}) {
        SCOPED_TRACE(chunked ? "chunked" : "Content-Length: 0");
        std::vector<std::string> switches{"--raw", raw};
        if (chunked) switches.push_back("--chunked");
        DemoServiceProcess service(switches);
        WriteFile(target, kOldAnswer);
        HttpDownloader downloader;
        EXPECT_EQ(downloader.Download(target,
                                      RestUrl(service, "zorbi.people.findByUsername", "username", "nobody")),
                  0);
        EXPECT_TRUE(::access(target.c_str(), F_OK) == 0);
        EXPECT_EQ(ReadFile(target), "");
    }
}

TEST_F(DownloaderTest, AnswerWithoutContentLengthIsReadToItsEnd) {
    DemoServiceProcess plain;
    DemoServiceProcess chunked({"--chunked"});
    const std::string plainFile = folder / "plain.xml";
    HttpDownloader downloader;

    // The big user's photo list spans several of the service's 16 KiB pieces.
    const int expected =
        downloader.Download(plainFile, RestUrl(plain, "zorbi.albums.getPhotos", "album_id", "72157300001"));
    ASSERT_GT(expected, 16 * 1024);
    EXPECT_EQ(
        downloader.Download(target, RestUrl(chunked, "zorbi.albums.getPhotos", "album_id", "72157300001")),
        expected);
    EXPECT_EQ(ReadFile(target), ReadFile(plainFile));
}

TEST_F(DownloaderTest, StatusOtherThanSuccessFailsAndKeepsTheOldFile) {
    // 302 without a Location cannot be followed and is not an answer either.
    for (const char* status : {"404", "500", "302"}) {
        SCOPED_TRACE(status);
        DemoServiceProcess service({"--error-status", status});
        HttpDownloader downloader;
        downloader.engine().SetRetries(0);
        EXPECT_EQ(
            downloader.Download(target, RestUrl(service, "zorbi.people.findByUsername", "username", "demo")),
            -1);
        EXPECT_EQ(ReadFile(target), kOldAnswer);
    }
}

TEST_F(DownloaderTest, BrokenTransfersFailAndKeepTheOldFile) {
    const std::string url =
        "/api/rest/?method=zorbi.albums.getList&api_key=" + std::string(kApiKey) + "&user_id=10001@N01";
    DemoServiceProcess dropping({"--drop-after", "100"});
    // No body at all: libcurl averages the speed over five seconds, so bytes sent first would delay the
    // idle limit by that much.
    DemoServiceProcess stalling({"--stall-after", "0"});
    struct Case {
        const char* name;
        std::string address;
    } cases[] = {
        {"connection closed part way through the body", dropping.baseUrl() + url},
        {"no body comes and the connection stays open", stalling.baseUrl() + url},
        {"connection refused", "http://127.0.0.1:" + std::to_string(FreePort()) + url},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpDownloader downloader;
        downloader.engine().SetRetries(0);  // failing once is what counts here
        downloader.SetTimeouts(5, 1);
        EXPECT_EQ(downloader.Download(target, c.address), -1);
        EXPECT_EQ(ReadFile(target), kOldAnswer);
    }
}

TEST_F(DownloaderTest, BodyLargerThanTheBufferIsRefused) {
    const std::string raw = folder / "raw";
    ::mkdir(raw.c_str(), 0777);
    ::mkdir((raw + "/zorbi.photos.getInfo").c_str(), 0777);
    const std::string exact(HttpDownloader::DownloadBufferSize, 'a');
    WriteFile(raw + "/zorbi.photos.getInfo/exact.xml", exact);
    WriteFile(raw + "/zorbi.photos.getInfo/over.xml", exact + "b");

    // With a Content-Length the size is known up front; chunked, it shows only while reading.
    for (bool chunked : {false, true}) {
        SCOPED_TRACE(chunked ? "chunked" : "Content-Length");
        std::vector<std::string> switches{"--raw", raw};
        if (chunked) switches.push_back("--chunked");
        DemoServiceProcess service(switches);
        HttpDownloader downloader;
        WriteFile(target, kOldAnswer);
        EXPECT_EQ(downloader.Download(target, RestUrl(service, "zorbi.photos.getInfo", "photo_id", "over")),
                  -1);
        EXPECT_EQ(ReadFile(target), kOldAnswer);
        EXPECT_EQ(downloader.Download(target, RestUrl(service, "zorbi.photos.getInfo", "photo_id", "exact")),
                  HttpDownloader::DownloadBufferSize);
        EXPECT_EQ(ReadFile(target), exact);
    }
}

TEST_F(DownloaderTest, TargetThatCannotBeWrittenGivesZero) {
    DemoServiceProcess service;
    HttpDownloader downloader;
    const std::string url = RestUrl(service, "zorbi.people.findByUsername", "username", "demo");

    const std::string missing = folder / "missing/user.xml";
    EXPECT_EQ(downloader.Download(missing, url), 0);
    EXPECT_FALSE(::access(missing.c_str(), F_OK) == 0);

    // A directory in the way stays, and no temporary file is left beside it.
    const std::string directory = folder / "user.xml";
    ::mkdir(directory.c_str(), 0777);
    EXPECT_EQ(downloader.Download(directory, url), 0);
    EXPECT_TRUE(IsDirectory(directory));
    EXPECT_EQ(folder.Names(), (std::set<std::string>{"answer.xml", "user.xml"}));
}

TEST_F(DownloaderTest, FollowsAtMostTenRedirectsOverHttpOnly) {
    DemoServiceProcess service;
    HttpDownloader downloader;

    EXPECT_EQ(downloader.Download(target, service.baseUrl() + "/redirect/10"), 11);
    EXPECT_EQ(ReadFile(target), "redirected\n");

    WriteFile(target, kOldAnswer);
    const std::string secret = folder / "secret.txt";
    WriteFile(secret, "local file");
    for (const std::string& redirect : std::vector<std::string>{
             "/redirect/11", "/redirect-to?url=%2Fno-such-page", "/redirect-to?url=file%3A%2F%2F" + secret,
             "/redirect-to?url=ftp%3A%2F%2F127.0.0.1%3A" + std::to_string(service.port()) + "%2F"}) {
        SCOPED_TRACE(redirect);
        EXPECT_EQ(downloader.Download(target, service.baseUrl() + redirect), -1);
        EXPECT_EQ(ReadFile(target), kOldAnswer);
    }
    EXPECT_EQ(downloader.Download(target, "file://" + secret), -1);
    EXPECT_EQ(ReadFile(target), kOldAnswer);
}

TEST_F(DownloaderTest, SendsTheThreeHeaderLinesAndHostOnly) {
    DemoServiceProcess service;
    HttpDownloader downloader;
    ASSERT_GT(downloader.Download(target, service.baseUrl() + "/echo-headers"), 0);

    std::multiset<std::string> lines;
    std::istringstream echoed(ReadFile(target));
    for (std::string line; std::getline(echoed, line);) lines.insert(line);
    const std::multiset<std::string> expected{"Content-Type: text/html", "Proxy-Connection: Keep-Alive",
                                              "User-Agent: MSIE/1.0",
                                              "Host: 127.0.0.1:" + std::to_string(service.port())};
    EXPECT_EQ(lines, expected);
}

TEST_F(DownloaderTest, OneDownloaderReusesItsConnection) {
    DemoServiceProcess service;
    const std::string url = service.baseUrl() + "/peer";
    HttpDownloader first;
    HttpDownloader second;

    ASSERT_GT(first.Download(target, url), 0);
    const std::string firstPeer = ReadFile(target);
    for (int i = 0; i < 5; ++i) {
        ASSERT_GT(first.Download(target, RestUrl(service, "zorbi.people.findByUsername", "username", "demo")),
                  0);
        ASSERT_GT(first.Download(target, url), 0);
        EXPECT_EQ(ReadFile(target), firstPeer);
    }
    // Another downloader has a pool of its own: this is what shows the peer port tells connections apart.
    ASSERT_GT(second.Download(target, url), 0);
    EXPECT_NE(ReadFile(target), firstPeer);
}

#ifdef TINYPROXY_PATH

// tinyproxy with Basic authentication, run in the foreground on a free port.
class TinyproxyProcess {
  public:
    TinyproxyProcess(const TempDir& folder, const std::string& user, const std::string& password)
        : port_(FreePort()),
          process_(TINYPROXY_PATH, {"-d", "-c", WriteConfig(folder, port_, user, password)}) {
        for (int i = 0; i < 400 && !Accepts(port_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        if (!Accepts(port_)) {
            process_.Stop();
            throw std::runtime_error("tinyproxy did not start:\n" + ReadFile(folder / "tinyproxy.log"));
        }
    }
    int port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  private:
    static std::string WriteConfig(const TempDir& folder, int port, const std::string& user,
                                   const std::string& password) {
        const std::string config = folder / "tinyproxy.conf";
        WriteFile(config,
                  "Port " + std::to_string(port) +
                      "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nMaxClients 20\nLogLevel Info\n"
                      "BasicAuth " +
                      user + " " + password + "\nLogFile \"" + (folder / "tinyproxy.log") + "\"\nPidFile \"" +
                      (folder / "tinyproxy.pid") + "\"\n");
        return config;
    }
    int port_;
    ChildProcess process_;
};

class ProxyTest : public DownloaderTest {
  protected:
    // The echoed request headers: a request that went through tinyproxy carries its Via line.
    bool WentThroughProxy(HttpDownloader& downloader) {
        if (downloader.Download(target, service.baseUrl() + "/echo-headers") <= 0) return false;
        return ReadFile(target).find("tinyproxy") != std::string::npos;
    }

    DemoServiceProcess service;
    TinyproxyProcess proxy{folder, "albums", "s3cret"};
};

TEST_F(ProxyTest, RightPasswordReachesTheService) {
    HttpDownloader downloader;
    downloader.SetProxy(proxy.address(), "albums", "s3cret");
    EXPECT_TRUE(WentThroughProxy(downloader));
    EXPECT_GT(
        downloader.Download(target, RestUrl(service, "zorbi.people.findByUsername", "username", "demo")), 0);
    EXPECT_NE(ReadFile(target).find("<username>demo</username>"), std::string::npos);
}

// tinyproxy answers missing credentials with 407 and a wrong password with 401: with a proxy user set,
// that 401 is the proxy refusing it too.
TEST_F(ProxyTest, RefusedOrMissingProxyFailsAndKeepsTheOldFile) {
    const std::string url = RestUrl(service, "zorbi.people.findByUsername", "username", "demo");
    struct Case {
        const char* name;
        std::string server;
        const char* user;
        const char* password;
        long refusedWith;  // 0: not refused by the proxy
    } cases[] = {
        {"wrong password", proxy.address(), "albums", "wrong", 401},
        {"no user", proxy.address(), "", "", 407},
        {"password without user", proxy.address(), "", "s3cret", 407},
        {"no proxy running", "127.0.0.1:" + std::to_string(FreePort()), "albums", "s3cret", 0},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        HttpDownloader downloader;
        downloader.engine().SetRetries(0);
        downloader.SetProxy(each.server, each.user, each.password);
        EXPECT_EQ(downloader.Download(target, url), -1);
        EXPECT_EQ(ReadFile(target), kOldAnswer);
        const HttpDownloader::Result result = downloader.Fetch(url);
        EXPECT_EQ(result.proxyRefused, each.refusedWith != 0);
        if (each.refusedWith) EXPECT_EQ(result.status, each.refusedWith);
    }
}

TEST_F(ProxyTest, ProxyPortIsUsedOnlyWhenTheServerTextHasNone) {
    HttpDownloader joined;
    joined.SetProxy("127.0.0.1", "albums", "s3cret");
    joined.SetProxyPort(proxy.port());
    EXPECT_TRUE(WentThroughProxy(joined));

    HttpDownloader named;
    named.SetProxy(proxy.address(), "albums", "s3cret");
    named.SetProxyPort(FreePort());
    EXPECT_TRUE(WentThroughProxy(named));
}

TEST_F(ProxyTest, EnvironmentProxyAppliesOnlyWithoutAConfiguredOne) {
    ::setenv("http_proxy", ("http://albums:s3cret@" + proxy.address()).c_str(), 1);
    HttpDownloader fromEnvironment;
    EXPECT_TRUE(WentThroughProxy(fromEnvironment));

    // A configured proxy wins over the environment's proxy and its exceptions.
    ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(FreePort())).c_str(), 1);
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    HttpDownloader configured;
    configured.SetProxy(proxy.address(), "albums", "s3cret");
    EXPECT_TRUE(WentThroughProxy(configured));
}

#endif  // TINYPROXY_PATH

}  // namespace
