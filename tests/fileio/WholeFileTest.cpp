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

// Several files replaced together: each answer is its own file's, a file that cannot be written
// fails alone and leaves its target as it was, and nothing is left beside the files.
TEST(WholeFileTest, FilesWrittenTogetherAreEachReplacedWholeOrNotAtAll)
{
    TTempFolder folder;
    WriteBytes(folder.File("existing.ini"), "[S]\r\nK=old\r\n");
    WriteBytes(folder.File("read-only.ini"), "kept");
    std::filesystem::permissions(folder.File("read-only.ini"), std::filesystem::perms(0444));
    std::filesystem::create_directory(folder.File("a-folder.ini"));
    WriteBytes(folder.File("target.ini"), "before");
    std::filesystem::create_symlink("target.ini", folder.File("link.ini"));
    const bool root = geteuid() == 0;  // root writes a read-only file all the same

    struct {
        std::string Name;
        std::string Content;
        TFileWriteResult Result;
        std::string Left;  // what the file holds afterwards
    } const cases[] = {
        {"new.ini", "[S]\r\nK=new\r\n", TFileWriteResult::Written, "[S]\r\nK=new\r\n"},
        {"existing.ini", "[S]\r\nK=replaced\r\n", TFileWriteResult::Written, "[S]\r\nK=replaced\r\n"},
        {"missing/folder.ini", "x", TFileWriteResult::CreateFailed, ""},
        {"read-only.ini", "changed", root ? TFileWriteResult::Written : TFileWriteResult::CreateFailed,
         root ? "changed" : "kept"},
        {"a-folder.ini", "x", TFileWriteResult::CreateFailed, ""},
        {"link.ini", "through the link", TFileWriteResult::Written, "through the link"},
        {"empty.ini", "", TFileWriteResult::Written, ""},
    };
    std::vector<TWholeFile> files;
    for (const auto& c : cases)
        files.push_back({folder.File(c.Name), c.Content});
    const std::vector<TFileWriteResult> results = WriteWholeFiles(files);
    ASSERT_EQ(results.size(), std::size(cases));
    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i], cases[i].Result) << cases[i].Name;
        if (std::filesystem::is_regular_file(folder.File(cases[i].Name))) {
            EXPECT_EQ(ReadBytes(folder.File(cases[i].Name)), cases[i].Left) << cases[i].Name;
        }
    }
    EXPECT_TRUE(std::filesystem::is_symlink(folder.File("link.ini")));
    EXPECT_EQ(ReadBytes(folder.File("target.ini")), "through the link");
    EXPECT_EQ(FolderEntries(folder.Path()),
              (std::vector<std::string>{"a-folder.ini", "empty.ini", "existing.ini", "link.ini", "new.ini",
                                        "read-only.ini", "target.ini"}));
}

// A fleet's worth of files, more than are held open at once, across two folders: every answer
// belongs to its own file.
TEST(WholeFileTest, ManyFilesWrittenTogetherEachGetTheirOwnContent)
{
    TTempFolder folder;
    std::filesystem::create_directory(folder.Path() / "a");
    std::filesystem::create_directory(folder.Path() / "b");
    constexpr size_t Count = 300;
    std::vector<TWholeFile> files;
    for (size_t i = 0; i < Count; ++i)
        files.push_back({folder.File((i % 2 ? "a/" : "b/") + std::to_string(i) + ".ini"),
                         "[M]\r\nN=" + std::to_string(i) + "\r\n"});
    files[Count - 1].FileName = folder.File("missing/last.ini");

    const std::vector<TFileWriteResult> results = WriteWholeFiles(files);
    ASSERT_EQ(results.size(), Count);
    for (size_t i = 0; i + 1 < Count; ++i) {
        ASSERT_EQ(results[i], TFileWriteResult::Written) << i;
        ASSERT_EQ(ReadBytes(files[i].FileName), files[i].Content) << i;
    }
    EXPECT_EQ(results[Count - 1], TFileWriteResult::CreateFailed);
    EXPECT_EQ(FolderEntries(folder.Path() / "a").size() + FolderEntries(folder.Path() / "b").size(), Count - 1);
}

// Files written together on a disk that fills up: those that do not fit fail and leave their
// previous content, those that fit are written, and nothing is left beside them.
TEST(WholeFileTest, FilesWrittenTogetherOnAFullDiskLeaveThePreviousFilesWhole)
{
    TTempFolder folder;
    const std::filesystem::path disk = folder.Path() / "disk";
    std::filesystem::create_directory(disk);
    if (const std::string reason = MountSmallFileSystem(disk, 64 * 1024); !reason.empty())
        GTEST_SKIP() << reason;
    const std::string small = (disk / "small.ini").string();
    const std::string large = (disk / "large.ini").string();
    WriteBytes(small, "small before");
    WriteBytes(large, "large before");
    WriteBytes((disk / "filler").string(), std::string(40 * 1024, 'f'));

    const std::vector<TFileWriteResult> results =
        WriteWholeFiles({{small, "small after"}, {large, std::string(64 * 1024, 'L')}});
    EXPECT_EQ(results, (std::vector<TFileWriteResult>{TFileWriteResult::Written, TFileWriteResult::WriteFailed}));
    EXPECT_EQ(ReadBytes(small), "small after");
    EXPECT_EQ(ReadBytes(large), "large before");
    EXPECT_EQ(FolderEntries(disk), (std::vector<std::string>{"filler", "large.ini", "small.ini"}));
}

}  // namespace
