#pragma once
// When the fetch engine may start a request: per-host waits the service asked for, even spacing under a
// rate limit, and the back-off before a retry. Pure decisions over a clock, so tests need no sleeping.
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// The time the schedule decides by; the engine uses the steady clock, tests a fake one.
class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
};

class SteadyClock : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
};

class FetchSchedule {
  public:
    using TimePoint = Clock::TimePoint;
    using Duration = std::chrono::steady_clock::duration;

    static constexpr int DefaultRetries = 3;
    static constexpr int MaxRetries = 10;
    // The longest wait honoured from a Retry-After, and the longest back-off.
    static constexpr std::chrono::seconds MaxWait{300};

    // `random` returns a number in [0, 1) on each call; it sets the jitter of the back-off.
    FetchSchedule(const Clock& clock, std::function<double()> random);

    // How many times a request is tried again after a transient failure; clamped to 0..MaxRetries.
    void SetRetries(int retries);
    int retries() const { return retries_; }
    // Requests started per second per host, spaced evenly; 0 (or less) for no limit.
    void SetRate(int perSecond);

    // The earliest time a request to the host may start; at or before now when nothing holds it back.
    TimePoint NextStart(const std::string& host) const;
    // Records that a request to the host starts now.
    void Started(const std::string& host);
    // Whole seconds (rounded up) left of the wait the host asked for through Retry-After; 0 for none.
    int HostWaitSeconds(const std::string& host) const;

    // The delay before retry `retry` (1 for the first): 1, 2, 4, ... seconds plus up to 20%, at most MaxWait.
    Duration Backoff(int retry) const;
    // After attempt `attempt` (1 for the first) of a request to the host failed transiently: when to try
    // it again, or nothing once the retries are used up. A Retry-After makes every request to the host
    // wait that long and replaces the back-off; one of no wait (0, a date gone by) leaves the back-off.
    std::optional<TimePoint> Failed(const std::string& host, int attempt,
                                    std::optional<Duration> retryAfter = std::nullopt);

    // The wait a Retry-After value asks for: delay seconds or an HTTP date, relative to `now`, capped at
    // MaxWait; a date in the past is no wait. Nothing for a value that is neither.
    static std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value,
                                                               std::chrono::system_clock::time_point now);
    // 5xx and 429: answers worth trying again.
    static bool IsTransientStatus(long status) { return status == 429 || (status >= 500 && status <= 599); }

  private:
    struct Host {
        TimePoint waitUntil{};  // asked for by the service
        TimePoint nextSlot{};   // the rate limit's next free start
    };

    const Clock& clock_;
    std::function<double()> random_;
    int retries_ = DefaultRetries;
    Duration spacing_{};  // zero: no rate limit
    std::map<std::string, Host> hosts_;
};
