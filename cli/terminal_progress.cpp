#include "cli/terminal_progress.h"

#include <locale.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <wchar.h>

#include <cstring>

#include "platform/codepage.h"

namespace {

// Length of the UTF-8 sequence at s[i] and the character it holds; 0 when the bytes there form none.
size_t Utf8Character(std::string_view s, size_t i, char32_t& character) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t length;
    if (c < 0x80) {
        character = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        character = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        character = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        character = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(s[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        character = (character << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (character < kSmallest[length] || character > 0x10FFFF || (character >= 0xD800 && character <= 0xDFFF))
        return 0;
    return length;
}

// wcwidth goes by the LC_CTYPE of the thread; a UTF-8 one of its own leaves the process's as it was.
locale_t Utf8Locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

// The cells one character takes; one for a character wcwidth calls unprintable.
int CellWidth(char32_t character, bool utf8Locale) {
    // Without the locale: the CJK blocks and full-width forms take two, as most terminals draw them.
    if (!utf8Locale) return character >= 0x1100 ? 2 : 1;
    const int width = wcwidth(static_cast<wchar_t>(character));
    return width < 0 ? 1 : width;
}

int TerminalColumns(FILE* out) {
    winsize size{};
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace

std::string FitToColumns(std::string_view text, int columns) {
    const locale_t utf8 = Utf8Locale();
    const locale_t previous = utf8 ? uselocale(utf8) : static_cast<locale_t>(0);
    int used = 0;
    size_t i = 0;
    while (i < text.size()) {
        char32_t character = 0;
        size_t length = Utf8Character(text, i, character);
        int width = 1;
        if (length == 0) {
            length = 1;  // a stray byte, shown as one replacement cell
        } else {
            width = CellWidth(character, utf8 != static_cast<locale_t>(0));
        }
        if (used + width > columns) break;
        used += width;
        i += length;
    }
    if (utf8) uselocale(previous);
    return std::string(text.substr(0, i));
}

std::string TerminalSafe(std::string_view utf8) {
    std::string safe;
    safe.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const size_t length = Utf8Character(utf8, i, c);
        const bool control = (c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F);
        if (length == 0 || control) {
            safe += '?';
            i += length == 0 ? 1 : length;
        } else {
            safe.append(utf8.substr(i, length));
            i += length;
        }
    }
    return safe;
}

std::string ForTerminal(std::string_view gbk) {
    return TerminalSafe(GbkToUtf8(gbk));
}

TerminalProgress::TerminalProgress(FILE* out, bool quiet)
    : out_(out), quiet_(quiet), live_(!quiet && isatty(fileno(out))) {}

void TerminalProgress::SetCaption(const std::string& text) {
    if (quiet_) return;
    caption_ = ForTerminal(text);
    if (live_) {
        DrawBar();
    } else {
        std::fprintf(out_, "== %s\n", caption_.c_str());
    }
}

void TerminalProgress::ShowText(const std::string& text) {
    if (quiet_) return;
    text_ = ForTerminal(text);
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
    rangeStart_ = std::chrono::steady_clock::now();
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
    // One line that fits the terminal, so "\r" always returns to its start; "\033[K" clears what a
    // longer earlier line left behind.
    char head[96];
    std::snprintf(head, sizeof head, "[%s] %3lld%% ", bar.c_str(), done);
    // The time left at the pace so far, once there is a pace to go by.
    const long long doneUnits = position_ - lower_;
    if (span > 0 && doneUnits > 0 && doneUnits < span) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - rangeStart_).count();
        const long long left = static_cast<long long>(elapsed / static_cast<double>(doneUnits) *
                                                      static_cast<double>(span - doneUnits));
        const size_t used = std::strlen(head);
        std::snprintf(head + used, sizeof head - used, "ETA %lld:%02lld ", left / 60, left % 60);
    }
    const std::string line = FitToColumns(head + caption_ + " | " + text_, TerminalColumns(out_) - 1);
    std::fprintf(out_, "\r%s\033[K", line.c_str());
    std::fflush(out_);
}
