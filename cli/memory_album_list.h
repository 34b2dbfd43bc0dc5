#pragma once
// The album list of the command line: rows kept in memory, never shown.
#include <string>
#include <vector>

#include "jobs/job_progress.h"

class MemoryAlbumList : public AlbumListView {
  public:
    int RowCount() override { return static_cast<int>(rows_.size()); }
    void DeleteRow(int row) override { rows_.erase(rows_.begin() + row); }
    bool InsertRow(int row, const std::string& title) override {
        if (row < 0 || row > RowCount()) return false;
        rows_.insert(rows_.begin() + row, title);
        return true;
    }
    void SetCountText(int, const std::string&) override {}

  private:
    std::vector<std::string> rows_;
};
