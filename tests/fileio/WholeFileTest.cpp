#include "WholeFile.h"
#include "ScratchMount.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(WholeFileTest, AFolderThatTakesNoNewFileStillLetsItsWritableFileBeSavedInPlace)
{
    struct {
        std::string Previous;
        std::string Written;
    } const cases[] = {
        {"[S]\r\nK=old\r\n", "[S]\r\nK=longer new value\r\n"},
        {std::string(10000, 'o'), "short"},  // the tail of a longer file does not survive
        {"something", ""},
        {"", "into an empty file"},
    };
    for (const auto& c : cases) {
        TTempFolder folder;
        const std::string name = folder.File("existing.ini");
        WriteBytes(name, c.Previous);
        std::filesystem::permissions(name, std::filesystem::perms(0640));
        if (const std::string reason = MakeFolderRefuseNewFiles(folder.Path(), name); !reason.empty())
            GTEST_SKIP() << reason;

        EXPECT_EQ(WriteWholeFile(name, c.Written), TFileWriteResult::Written);
        EXPECT_EQ(ReadBytes(name), c.Written);
        EXPECT_EQ(std::filesystem::status(name).permissions(), std::filesystem::perms(0640));
        EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"existing.ini"});
        // A file that is not there yet cannot be made in such a folder.
        EXPECT_EQ(WriteWholeFile(folder.File("new.ini"), "x"), TFileWriteResult::CreateFailed);
        EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"existing.ini"});
    }
}

// The disk is full, whether the new text goes beside the file or into it: either way the previous
// file stays as it was, with nothing left beside it.
TEST(WholeFileTest, AFullDiskLeavesThePreviousFileWhole)
{
    TTempFolder folder;
    const std::filesystem::path disk = folder.Path() / "disk";
    std::filesystem::create_directory(disk);
    if (const std::string reason = MountSmallFileSystem(disk, 64 * 1024); !reason.empty())
        GTEST_SKIP() << reason;
    std::filesystem::create_directory(disk / "ini");
    const std::string name = (disk / "ini" / "module.ini").string();
    const std::string previous = "[S]\r\n" + std::string(4000, 'k') + "=old\r\n";
    WriteBytes(name, previous);
    WriteBytes((disk / "filler").string(), std::string(128 * 1024, 'f'));
    const std::string longer = "[S]\r\n" + std::string(8000, 'k') + "=new\r\n";

    EXPECT_EQ(WriteWholeFile(name, longer), TFileWriteResult::WriteFailed);
    EXPECT_EQ(ReadBytes(name), previous);
    EXPECT_EQ(FolderEntries(disk / "ini"), std::vector<std::string>{"module.ini"});

    ASSERT_EQ(MakeFolderRefuseNewFiles(disk / "ini", name), "");
    EXPECT_EQ(WriteWholeFile(name, longer), TFileWriteResult::WriteFailed);
    EXPECT_EQ(ReadBytes(name), previous);
}

}  // namespace
