#pragma once
// What a long job sees of the window that shows its progress, and of the album list it refills.
// Every text passed here is GBK.
#include <atomic>
#include <string>

class JobProgress {
  public:
    virtual ~JobProgress() = default;

    virtual void SetCaption(const std::string& text) = 0;
    // Keeps the text as resultText, then shows it.
    void SetText(const std::string& text) {
        resultText = text;
        ShowText(text);
    }
    virtual void SetRange(int lower, int upper) = 0;
    virtual void SetPos(int position) = 0;
    // Asks the window to close; ends its modal loop.
    virtual void Close() = 0;

    // Set by the window thread ("中断"), read by the job between units of work.
    std::atomic<bool> interruptRequested{false};
    // The text of the last SetText: the job's final text once it has ended.
    std::string resultText;

  protected:
    virtual void ShowText(const std::string& text) = 0;
};

// The album list: a two-column list (title, photo count), one row per album.
class AlbumListView {
  public:
    virtual ~AlbumListView() = default;
    virtual int RowCount() = 0;
    virtual void DeleteRow(int row) = 0;
    // Inserts a row at the position with the title in its first column; false when it fails.
    virtual bool InsertRow(int row, const std::string& title) = 0;
    // Sets the text of the row's second column (the photo count).
    virtual void SetCountText(int row, const std::string& text) = 0;
};
