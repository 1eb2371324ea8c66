// The disk side of a chart request: addresses, the settings file name, the backup and
// the load with its fall-back, on real encoder-made GIF files.
#include "AppTestSupport.h"
#include "app/ChartRequest.h"

#include "gif/GIFImage.h"
#include "platform/gdi/Picture.h"
#include "support/Peers.h"

#include <gtest/gtest.h>

using vt::test::Exists;
using vt::test::ReadFile;
using vt::test::WriteFile;

TEST(AppChartAddress, FollowsTheTrackbarPosition) {
    EXPECT_EQ(ChartAddress("IBM", 1), "http://chart.yahoo.com/t?s=IBM");
    EXPECT_EQ(ChartAddress("IBM", 2), "http://chart.yahoo.com/v?s=IBM");
    EXPECT_EQ(ChartAddress("IBM", 3), "http://ichart.yahoo.com/c/0b/I/IBM.gif");
    // Symbols go out verbatim, index prefixes included.
    EXPECT_EQ(ChartAddress("^DJI", 1), "http://chart.yahoo.com/t?s=^DJI");
    EXPECT_EQ(ChartAddress("^DJI", 2), "http://chart.yahoo.com/v?s=^DJI");
    EXPECT_EQ(ChartAddress("_DJI", 3), "http://ichart.yahoo.com/c/0b/_/_DJI.gif");
    EXPECT_EQ(ChartAddress("", 3), "http://ichart.yahoo.com/c/0b//.gif");
}

TEST(AppSettingsFileName, DropsThreeCharactersWhateverTheyAre) {
    EXPECT_EQ(SettingsFileName("/opt/Tools/ChartView.EXE"), "chartview.ini");
    EXPECT_EQ(SettingsFileName("C:\\Tools\\ChartView.EXE"), "chartview.ini");
    EXPECT_EQ(SettingsFileName("/usr/bin/VIEWER"), "vieini");
    EXPECT_EQ(SettingsFileName("/usr/bin/brenvik-vantrel"), "brenvik-vantini");
    EXPECT_EQ(SettingsFileName("/usr/bin/ab"), "ini");
}

namespace {

// Header, 1 x 1 logical screen without colour table, trailer: a GIF with no image.
const std::string kGifWithoutImages("GIF89a"
                                    "\x01\x00\x01\x00" // screen 1 x 1
                                    "\x00\x00\x00"     // no colour table, background, aspect
                                    "\x3B",            // trailer
                                    14);

class AppChartFiles : public ::testing::Test {
protected:
    void SetUp() override {
        InitializeGifImg();
        FChartA = vt::test::CorpusGif("rose_c256.gif");
        FChartB = vt::test::CorpusGif("rose_c4.gif");
        ASSERT_FALSE(FChartA.empty());
        ASSERT_FALSE(FChartB.empty());
    }

    vt::test::TScratchFolders FFolders;
    std::string FChartA, FChartB;
    TPicture FPicture;
};

} // namespace

TEST_F(AppChartFiles, KeepBackupReplacesTheOlderBackup) {
    KeepBackup("IBM.gif", "IBM.bak"); // no chart yet: nothing happens
    EXPECT_FALSE(Exists("IBM.bak"));
    WriteFile("IBM.gif", FChartA);
    WriteFile("IBM.bak", "older");
    KeepBackup("IBM.gif", "IBM.bak");
    EXPECT_FALSE(Exists("IBM.gif"));
    EXPECT_EQ(ReadFile("IBM.bak"), FChartA);
}

TEST_F(AppChartFiles, ANewPictureIsShownAndTheBackupStays) {
    WriteFile("IBM.gif", FChartB);
    WriteFile("IBM.bak", FChartA);
    EXPECT_EQ(LoadChart(FPicture, "IBM.gif", "IBM.bak"), TChartShown::New);
    EXPECT_EQ(FPicture.Width(), 70); // rose: 70 x 46
    EXPECT_EQ(FPicture.Height(), 46);
    EXPECT_FALSE(FPicture.Graphic()->Transparent());
    EXPECT_EQ(ReadFile("IBM.gif"), FChartB);
    EXPECT_EQ(ReadFile("IBM.bak"), FChartA);
}

TEST_F(AppChartFiles, UnusableDownloadsBringTheBackupBack) {
    const std::string bodies[] = {"<html>no chart</html>", "", FChartB.substr(0, 40),
                                  kGifWithoutImages};
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body.size());
        WriteFile("IBM.gif", body);
        WriteFile("IBM.bak", FChartA);
        EXPECT_EQ(LoadChart(FPicture, "IBM.gif", "IBM.bak"), TChartShown::Restored);
        ASSERT_NE(FPicture.Graphic(), nullptr);
        EXPECT_EQ(FPicture.Width(), 140); // the backup: rose at 140 x 92
        EXPECT_EQ(ReadFile("IBM.gif"), FChartA);
        EXPECT_FALSE(Exists("IBM.bak"));
    }
}

TEST_F(AppChartFiles, AnUnusableFirstDownloadLeavesNoFiles) {
    WriteFile("NEW.gif", kGifWithoutImages);
    EXPECT_EQ(LoadChart(FPicture, "NEW.gif", "NEW.bak"), TChartShown::Nothing);
    EXPECT_EQ(FPicture.Graphic(), nullptr);
    EXPECT_FALSE(Exists("NEW.gif"));
    EXPECT_FALSE(Exists("NEW.bak"));
}

TEST_F(AppChartFiles, NoChartFileTriesNothingAndEmptiesThePicture) {
    WriteFile("IBM.gif", FChartA);
    ASSERT_EQ(LoadChart(FPicture, "IBM.gif", "IBM.bak"), TChartShown::New);
    WriteFile("OTHER.bak", FChartB);
    EXPECT_EQ(LoadChart(FPicture, "OTHER.gif", "OTHER.bak"), TChartShown::NoFile);
    EXPECT_EQ(FPicture.Graphic(), nullptr);
    EXPECT_TRUE(Exists("OTHER.bak")); // a backup alone is not brought back
}
