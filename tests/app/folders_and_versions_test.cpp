#include "cli/file_version.h"
#include "cli/user_folders.h"

#include <gtest/gtest.h>

#include <clocale>

#include "app/ks_app.h"
#include "app_test_env.h"
#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::IsolatedAppTest;

class DataFolderTest : public IsolatedAppTest {};

TEST_F(DataFolderTest, IsCreatedUnderTheDataHomeAndEndsWithASeparator) {
    std::filesystem::path folder;
    ASSERT_EQ(GetDataFolder(folder), kOk);
    EXPECT_EQ(folder, dataFolder() / "");
    EXPECT_TRUE(std::filesystem::is_directory(dataFolder()));
}

TEST_F(DataFolderTest, ARelativeOrMissingDataHomeFallsBackToHome) {
    environment_.set("HOME", (temp_ / "home").string());
    for (std::optional<std::string> value : {std::optional<std::string>("relative/data"),
                                             std::optional<std::string>(""), std::optional<std::string>()}) {
        environment_.set("XDG_DATA_HOME", value);
        std::filesystem::path folder;
        ASSERT_EQ(GetDataFolder(folder), kOk);
        EXPECT_EQ(folder, temp_ / "home/.local/share/Quillon/Kestrel/");
    }
    environment_.set("HOME", std::nullopt);
    std::filesystem::path folder;
    EXPECT_EQ(GetDataFolder(folder).value(), 0x80070003u);
}

TEST_F(DataFolderTest, AFolderThatCannotBeCreatedFails) {
    temp_.write("plain", "a file where the data home belongs");
    environment_.set("XDG_DATA_HOME", (temp_ / "plain").string());
    std::filesystem::path folder;
    EXPECT_TRUE(GetDataFolder(folder).failed());
    EXPECT_TRUE(folder.empty());
}

TEST(FileVersionTest, VersionTextUsesAPointWhateverTheLocale) {
    std::string saved = std::setlocale(LC_ALL, nullptr);
    bool commaLocale = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    CKsApp app{CKsCommandLineInfo{}};
    std::string text = app.GetVersionText();
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text, "Kestrel Beta 版本 1.020000");
    EXPECT_EQ(app.versionMajor(), 10);
    EXPECT_EQ(app.versionMinor(), 2000);
    if (!commaLocale) GTEST_LOG_(INFO) << "de_DE.UTF-8 is not installed; checked in the C locale only";
}

TEST(FileVersionTest, APeFileGivesItsVersionResource) {
    testing::TempDir temp;
    pebuilder::VersionPlan plan = pebuilder::defaultVersionPlan();
    plan.fileVersion[0] = 5;
    plan.fileVersion[3] = 9;
    pebuilder::ImagePlan image;
    image.resources.push_back(
        {pebuilder::kRtVersion, std::uint16_t{1}, pebuilder::kLangEnUs, pebuilder::makeVersionInfo(plan), 0});
    std::filesystem::path withVersion = temp.write("v.dll", pebuilder::buildImage(image));
    FixedFileInfo info;
    ASSERT_EQ(GetFileVersion(withVersion, info), kOk);
    EXPECT_EQ(info.fileVersionMS, 0x00050000u);
    EXPECT_EQ(info.fileVersionLS, 0x00020009u);

    image.resources.clear();
    image.resources.push_back(
        {pebuilder::kRtRcData, std::uint16_t{1}, pebuilder::kLangEnUs, {std::byte{1}}, 0});
    EXPECT_EQ(GetFileVersion(temp.write("n.dll", pebuilder::buildImage(image)), info).value(), 0x80070715u);
    EXPECT_EQ(GetFileVersion(temp.write("t.txt", "MZ text"), info).value(), 0x80070714u);
    EXPECT_EQ(GetFileVersion(temp / "missing.dll", info).value(), 0x80070002u);
}

}  // namespace
}  // namespace kestrel
