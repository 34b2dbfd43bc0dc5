#include "net/fetch_schedule.h"

#include <curl/curl.h>

#include <algorithm>
#include <string>

FetchSchedule::FetchSchedule(const Clock& clock, std::function<double()> random)
    : clock_(clock), random_(std::move(random)) {}

void FetchSchedule::SetRetries(int retries) {
    retries_ = std::clamp(retries, 0, MaxRetries);
}

void FetchSchedule::SetRate(int perSecond) {
    spacing_ = perSecond > 0 ? Duration(std::chrono::seconds(1)) / perSecond : Duration::zero();
}

FetchSchedule::TimePoint FetchSchedule::NextStart(const std::string& host) const {
    const auto found = hosts_.find(host);
    if (found == hosts_.end()) return TimePoint{};
    return std::max(found->second.waitUntil, found->second.nextSlot);
}

void FetchSchedule::Started(const std::string& host) {
    if (spacing_ == Duration::zero()) return;
    Host& state = hosts_[host];
    // A request that starts late does not earn the next one an early slot.
    state.nextSlot = std::max(state.nextSlot, clock_.now()) + spacing_;
}

int FetchSchedule::HostWaitSeconds(const std::string& host) const {
    const auto found = hosts_.find(host);
    if (found == hosts_.end()) return 0;
    const Duration left = found->second.waitUntil - clock_.now();
    if (left <= Duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

FetchSchedule::Duration FetchSchedule::Backoff(int retry) const {
    const int doublings = std::clamp(retry - 1, 0, 30);
    const auto base = std::chrono::duration<double>(static_cast<double>(1LL << doublings));
    // Jitter keeps the retries of requests that failed together from arriving together again.
    const double jitter = std::clamp(random_ ? random_() : 0.0, 0.0, 1.0) * 0.2;
    const auto delay = std::chrono::duration_cast<Duration>(base * (1.0 + jitter));
    return std::min<Duration>(delay, MaxWait);
}

std::optional<FetchSchedule::TimePoint> FetchSchedule::Failed(const std::string& host, int attempt,
                                                              std::optional<Duration> retryAfter) {
    const TimePoint now = clock_.now();
    // "Retry-After: 0" or a date gone by asks for no wait: the back-off still applies.
    if (retryAfter && *retryAfter <= Duration::zero()) retryAfter.reset();
    if (retryAfter) {
        const Duration wait = std::clamp<Duration>(*retryAfter, Duration::zero(), MaxWait);
        Host& state = hosts_[host];
        state.waitUntil = std::max(state.waitUntil, now + wait);
    }
    if (attempt > retries_) return std::nullopt;
    if (retryAfter) return hosts_[host].waitUntil;
    return now + Backoff(attempt);
}

std::optional<std::chrono::seconds> FetchSchedule::ParseRetryAfter(
    std::string_view value, std::chrono::system_clock::time_point now) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() &&
           (value.back() == ' ' || value.back() == '\t' || value.back() == '\r' || value.back() == '\n'))
        value.remove_suffix(1);
    if (value.empty()) return std::nullopt;

    if (value.find_first_not_of("0123456789") == std::string_view::npos) {
        long long seconds = 0;
        for (const char digit : value) {
            seconds = seconds * 10 + (digit - '0');
            if (seconds >= MaxWait.count()) return MaxWait;
        }
        return std::chrono::seconds(seconds);
    }

    // An HTTP date in any of its three forms; libcurl's parser knows them all. A date needs a letter.
    if (value.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") == std::string_view::npos)
        return std::nullopt;
    const std::string text(value);
    const time_t date = curl_getdate(text.c_str(), nullptr);
    if (date == -1) return std::nullopt;
    const auto until = std::chrono::system_clock::from_time_t(date);
    if (until <= now) return std::chrono::seconds(0);
    return std::min(std::chrono::ceil<std::chrono::seconds>(until - now), std::chrono::seconds(MaxWait));
}
