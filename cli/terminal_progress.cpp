#include "cli/terminal_progress.h"

#include <unistd.h>

#include "platform/codepage.h"

TerminalProgress::TerminalProgress(FILE* out, bool quiet)
    : out_(out), quiet_(quiet), live_(!quiet && isatty(fileno(out))) {}

void TerminalProgress::SetCaption(const std::string& text) {
    if (quiet_) return;
    caption_ = GbkToUtf8(text);
    if (live_) {
        DrawBar();
    } else {
        std::fprintf(out_, "== %s\n", caption_.c_str());
    }
}

void TerminalProgress::ShowText(const std::string& text) {
    if (quiet_) return;
    text_ = GbkToUtf8(text);
    if (live_) {
        DrawBar();
    } else {
        std::fprintf(out_, "%s\n", text_.c_str());
    }
}

void TerminalProgress::SetRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
    lastPercent_ = -1;
    if (live_) DrawBar();
}

void TerminalProgress::SetPos(int position) {
    position_ = position;
    if (!live_) return;
    const long long span = upper_ - lower_;
    const int percent = span > 0 ? static_cast<int>(100 * (position_ - lower_) / span) : 0;
    if (percent != lastPercent_) DrawBar();  // redraw only when the figure changes
}

void TerminalProgress::Close() {
    if (live_) std::fprintf(out_, "\n");
    std::fflush(out_);
}

void TerminalProgress::DrawBar() {
    constexpr int kWidth = 30;
    const long long span = upper_ - lower_;
    long long done = span > 0 ? (position_ - lower_) * 100 / span : 0;
    if (done < 0) done = 0;
    if (done > 100) done = 100;
    lastPercent_ = static_cast<int>(done);
    const int filled = static_cast<int>(done * kWidth / 100);
    std::string bar(filled, '#');
    bar.append(kWidth - filled, '-');
    // "\033[K" clears what a longer earlier line left behind.
    std::fprintf(out_, "\r[%s] %3lld%% %s | %s\033[K", bar.c_str(), done, caption_.c_str(), text_.c_str());
    std::fflush(out_);
}
