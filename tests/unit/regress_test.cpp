// Inputs that once broke a property, kept from fuzzing (tests/data/regress/AREA/), and what must hold
// for each of them now.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "catalogue/app_settings.h"
#include "catalogue/rest_reader.h"
#include "core_doubles.h"
#include "platform/ini_file.h"
#include "test_support.h"

namespace {

std::vector<std::string> RegressionInputs(const std::string& area) {
    std::vector<std::string> files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(DataFile("regress/" + area), ignored))
        files.push_back(entry.path().string());
    return files;
}

TEST(RegressTest, SettingsReadBackExactlyWhatASaveWroteForEveryKeptInput) {
    const std::vector<std::string> inputs = RegressionInputs("settings");
    ASSERT_FALSE(inputs.empty());
    for (const std::string& input : inputs) {
        TempDir dir;
        WriteFile(dir / "config.ini", ReadFile(input));
        AppSettings loaded(dir.path());
        loaded.Load();
        loaded.Save();
        AppSettings reloaded(dir.path());
        reloaded.Load();
        SCOPED_TRACE(input);
        ExpectSameSettings(loaded, reloaded);
    }
}

TEST(RegressTest, LoneCarriageReturnEndsALineAndBlanksAtTheCutAreDropped) {
    TempDir dir;
    const std::string text =
        "[proxy]\rserver=host\rport=81\r\n[config]\nskin=" + std::string(254, 's') + " tail\r\n";
    WriteFile(dir / "a.ini", text);
    IniFile ini;
    ini.Load(dir / "a.ini");
    EXPECT_EQ(ini.GetString("proxy", "server", ""), "host");
    EXPECT_EQ(ini.GetInt("proxy", "port", 0), 81);
    EXPECT_EQ(ini.GetString("config", "skin", ""), std::string(254, 's'));
    // The fallback is handed back as given, only cut.
    EXPECT_EQ(ini.GetString("config", "none", " x "), " x ");
    EXPECT_EQ(ini.Text(), text);  // each line with its own end
}

// Under AddressSanitizer these inputs made the parser read past its buffer.
TEST(RegressTest, ReadersStayWithinTheirBuffersAndTablesForEveryKeptAnswer) {
    const std::vector<std::string> inputs = RegressionInputs("rest_reader");
    ASSERT_FALSE(inputs.empty());
    AlbumCatalogue catalogue;
    RestReader reader(catalogue, "http://pictures.test");
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        reader.ReadError(input);
        reader.ReadUser(input);
        const int albums = reader.ReadAlbumList(input);
        ASSERT_GE(albums, 0);
        ASSERT_EQ(catalogue.albums.highWater(), albums);
        for (int i = 0; i < albums; ++i)
            EXPECT_LE(reader.ReadAlbumPhotos(input, i), catalogue.albums[i].photoCount);
        EXPECT_LE(reader.ReadPhotoInfo(input, 0, 0), 1);
    }
}

TEST(RegressTest, AnswerEndingInsideAUtf8SequenceStillReadsWhatPrecedesIt) {
    TempDir dir;
    // A lone lead byte after the root: TinyXML reports no error for trailing bytes like these.
    WriteFile(dir / "a.xml", "<rsp stat='fail'><err msg='gone'/></rsp>\r\n\xE9");
    AlbumCatalogue catalogue;
    RestReader reader(catalogue, "http://pictures.test");
    EXPECT_EQ(reader.ReadError(dir / "a.xml"), "gone");
}

}  // namespace
