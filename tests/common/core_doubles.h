#pragma once
// Stand-ins shared by the core's tests: a progress window and an album list that show nothing, and a
// field-by-field comparison of two settings records.
#include <gtest/gtest.h>

#include <string>

#include "catalogue/app_settings.h"
#include "jobs/job_progress.h"

class SilentProgress : public JobProgress {
  public:
    void SetCaption(const std::string&) override {}
    void SetRange(int, int) override {}
    void SetPos(int) override {}
    void Close() override {}

  protected:
    void ShowText(const std::string&) override {}
};

class NullListView : public AlbumListView {
  public:
    int RowCount() override { return 0; }
    void DeleteRow(int) override {}
    bool InsertRow(int, const std::string&) override { return true; }
    void SetCountText(int, const std::string&) override {}
};

inline void ExpectSameSettings(const AppSettings& a, const AppSettings& b) {
    EXPECT_EQ(a.proxyServer, b.proxyServer);
    EXPECT_EQ(a.proxyPort, b.proxyPort);
    EXPECT_EQ(a.proxyUser, b.proxyUser);
    EXPECT_EQ(a.proxyPassword, b.proxyPassword);
    EXPECT_EQ(a.outputPath, b.outputPath);
    EXPECT_EQ(a.skinFile, b.skinFile);
    EXPECT_EQ(a.detailMode, b.detailMode);
    EXPECT_EQ(a.customFormat, b.customFormat);
    EXPECT_EQ(a.pictureSizes, b.pictureSizes);
    EXPECT_EQ(a.connections, b.connections);
    EXPECT_EQ(a.retries, b.retries);
    EXPECT_EQ(a.rate, b.rate);
    EXPECT_EQ(a.gallery, b.gallery);
    EXPECT_EQ(a.sidecars, b.sidecars);
    EXPECT_EQ(a.notifyUrl, b.notifyUrl);
    ASSERT_EQ(a.userCount, b.userCount);
    for (int n = 0; n < a.userCount; ++n) EXPECT_EQ(a.userNames[n], b.userNames[n]);
}
