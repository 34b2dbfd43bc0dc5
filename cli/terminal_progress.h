#pragma once
// Progress of a job on a terminal: a live bar with caption and text when stderr is a terminal,
// otherwise one line per caption or text. Texts arrive in GBK and are written in UTF-8.
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "jobs/job_progress.h"

// A UTF-8 text as a terminal may be shown it: control characters (C0 but tab, DEL, C1) and bytes that
// are no UTF-8 become "?", so texts from the service cannot drive the terminal.
std::string TerminalSafe(std::string_view utf8);

// A GBK text for the terminal: UTF-8, made safe.
std::string ForTerminal(std::string_view gbk);

// The longest start of a UTF-8 text that fits the columns, in the cells wcwidth gives each character
// (CJK two, combining marks none, unprintable characters one).
std::string FitToColumns(std::string_view text, int columns);

class TerminalProgress : public JobProgress {
  public:
    // quiet: show nothing (resultText is still kept).
    TerminalProgress(FILE* out, bool quiet);

    void SetCaption(const std::string& text) override;
    void SetRange(int lower, int upper) override;
    void SetPos(int position) override;
    void Close() override;

  protected:
    void ShowText(const std::string& text) override;

  private:
    void DrawBar();

    FILE* out_;
    bool quiet_;
    bool live_;
    std::string caption_;
    std::string text_;
    long long lower_ = 0, upper_ = 100, position_ = 0;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point rangeStart_ = std::chrono::steady_clock::now();
};
