// FetchSchedule's decisions on a fake clock: back-off, Retry-After, host waits and rate spacing.
#include "net/fetch_schedule.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

using namespace std::chrono_literals;
using Duration = FetchSchedule::Duration;

class FakeClock : public Clock {
  public:
    TimePoint now() const override { return now_; }
    void Advance(Duration step) { now_ += step; }

  private:
    TimePoint now_ = TimePoint{} + 1000h;
};

class FetchScheduleTest : public testing::Test {
  protected:
    FakeClock clock;
    double random = 0.0;
    FetchSchedule schedule{clock, [this] { return random; }};
};

TEST_F(FetchScheduleTest, BackoffDoublesWithUpToAFifthOfJitterAndAFiveMinuteCap) {
    struct Case {
        int retry;
        double random;
        Duration expected;
    } cases[] = {
        {1, 0.0, 1s},     {2, 0.0, 2s},      {3, 0.0, 4s},   {4, 0.0, 8s},
        {1, 0.5, 1100ms}, {3, 0.5, 4400ms},  {9, 0.0, 256s}, {9, 0.5, 281600ms},
        {10, 0.0, 300s},  {10, 0.999, 300s}, {0, 0.0, 1s},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(testing::Message() << "retry " << each.retry << ", random " << each.random);
        random = each.random;
        EXPECT_EQ(std::chrono::round<std::chrono::milliseconds>(schedule.Backoff(each.retry)), each.expected);
    }
    // The jitter stays below a fifth, whatever the random source returns.
    for (const double r : {0.999999, 1.0, 7.0, -3.0}) {
        random = r;
        EXPECT_GE(schedule.Backoff(2), 2s);
        EXPECT_LE(schedule.Backoff(2), 2400ms);
    }
}

TEST_F(FetchScheduleTest, RetriesEndAfterTheSetNumber) {
    struct Case {
        int set;
        int used;  // attempts that get another try
    } cases[] = {{0, 0}, {1, 1}, {3, 3}, {10, 10}, {11, 10}, {-1, 0}};
    for (const Case& each : cases) {
        SCOPED_TRACE(each.set);
        schedule.SetRetries(each.set);
        for (int attempt = 1; attempt <= each.used; ++attempt) {
            const auto again = schedule.Failed("http://a:80", attempt);
            ASSERT_TRUE(again) << "attempt " << attempt;
            EXPECT_EQ(*again, clock.now() + schedule.Backoff(attempt));
        }
        EXPECT_FALSE(schedule.Failed("http://a:80", each.used + 1));
    }
    // Back-off alone holds back only the request that failed, not its host.
    EXPECT_LE(schedule.NextStart("http://a:80"), clock.now());
}

TEST_F(FetchScheduleTest, RetryAfterIsSecondsOrAnHttpDateCappedAtFiveMinutes) {
    std::tm moment{};
    moment.tm_year = 2015 - 1900;
    moment.tm_mon = 9;
    moment.tm_mday = 21;
    moment.tm_hour = 7;
    moment.tm_min = 27;
    const auto now = std::chrono::system_clock::from_time_t(timegm(&moment));  // 21 Oct 2015 07:27:00 GMT

    struct Case {
        const char* value;
        std::optional<std::chrono::seconds> expected;
    } cases[] = {
        {"120", 120s},
        {" 5 \r\n", 5s},
        {"0", 0s},
        {"300", 300s},
        {"301", 300s},
        {"99999999999999999999999", 300s},
        {"Wed, 21 Oct 2015 07:28:00 GMT", 60s},
        {"Wednesday, 21-Oct-15 07:28:00 GMT", 60s},
        {"Wed Oct 21 07:28:00 2015", 60s},
        {"Wed, 21 Oct 2015 07:27:00 GMT", 0s},
        {"Tue, 20 Oct 2015 07:28:00 GMT", 0s},
        {"Wed, 21 Oct 2015 08:28:00 GMT", 300s},
        {"", std::nullopt},
        {"soon", std::nullopt},
        {"-5", std::nullopt},
        {"1.5", std::nullopt},
        {"12 seconds", std::nullopt},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.value);
        EXPECT_EQ(FetchSchedule::ParseRetryAfter(each.value, now), each.expected);
    }
}

TEST_F(FetchScheduleTest, RetryAfterHoldsEveryRequestToThatHostOnly) {
    const std::string slow = "http://api:80";
    const std::string other = "http://photos:80";
    schedule.SetRetries(1);

    // The retry comes when the host's wait ends, not after the back-off.
    EXPECT_EQ(schedule.Failed(slow, 1, Duration(10s)), clock.now() + 10s);
    EXPECT_EQ(schedule.NextStart(slow), clock.now() + 10s);
    EXPECT_LE(schedule.NextStart(other), clock.now());
    EXPECT_EQ(schedule.HostWaitSeconds(slow), 10);
    EXPECT_EQ(schedule.HostWaitSeconds(other), 0);

    // A shorter wait asked for later does not shorten it; one with the retries used up still counts.
    clock.Advance(500ms);
    EXPECT_FALSE(schedule.Failed(slow, 2, Duration(2s)));
    EXPECT_EQ(schedule.HostWaitSeconds(slow), 10);  // 9.5 s, rounded up
    EXPECT_FALSE(schedule.Failed(slow, 2, Duration(20s)));
    EXPECT_EQ(schedule.NextStart(slow), clock.now() + 20s);

    // A wait longer than five minutes is cut to five.
    EXPECT_FALSE(schedule.Failed(other, 2, Duration(3600s)));
    EXPECT_EQ(schedule.HostWaitSeconds(other), 300);

    clock.Advance(20s);
    EXPECT_LE(schedule.NextStart(slow), clock.now());
    EXPECT_EQ(schedule.HostWaitSeconds(slow), 0);
}

// "Retry-After: 0" and a date gone by ask for no wait; the retry still waits its back-off.
TEST_F(FetchScheduleTest, RetryAfterOfNoWaitKeepsTheBackoff) {
    const std::string host = "http://api:80";
    random = 0.5;
    for (const Duration asked : {Duration(0s), Duration(-5s)}) {
        EXPECT_EQ(schedule.Failed(host, 2, asked), clock.now() + 2200ms);
        EXPECT_LE(schedule.NextStart(host), clock.now());
    }
}

TEST_F(FetchScheduleTest, RateSpacesStartsEvenlyPerHost) {
    const std::string host = "http://api:80";
    schedule.SetRate(4);
    const auto start = clock.now();
    schedule.Started(host);
    EXPECT_EQ(schedule.NextStart(host), start + 250ms);
    EXPECT_LE(schedule.NextStart("http://photos:80"), clock.now());

    clock.Advance(250ms);
    schedule.Started(host);
    EXPECT_EQ(schedule.NextStart(host), start + 500ms);

    // After a quiet spell the next start is one spacing on, not a burst to catch up.
    clock.Advance(2s);
    schedule.Started(host);
    EXPECT_EQ(schedule.NextStart(host), clock.now() + 250ms);

    // A host's wait and the spacing add up to the later of the two.
    schedule.Failed(host, 1, Duration(1s));
    EXPECT_EQ(schedule.NextStart(host), clock.now() + 1s);

    schedule.SetRate(0);
    clock.Advance(1s);
    schedule.Started(host);
    schedule.Started(host);
    EXPECT_LE(schedule.NextStart(host), clock.now());
}

}  // namespace
