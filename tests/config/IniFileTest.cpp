#include "IniFile.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

namespace {

class IniFileTest : public testing::Test {
protected:
    // The file as it is now: a TIniFile reads its file once, when it is made.
    TIniFile Ini() const { return TIniFile(Name); }

    TTempFolder Folder;
    std::string Name = Folder.File("test.ini");
};

TEST_F(IniFileTest, ReadFindsSectionsAndKeysWhateverTheirCaseAndTrimsBlanks)
{
    WriteBytes(Name, "; a comment=not a key\r\n"
                     "orphan=before any section\r\n"
                     "[ channel_0 ]\r\n"
                     "  baudrate =  9600 \t\r\n"
                     "Empty=\r\n"
                     "Quoted=\"  a b \"\r\n"
                     "eq=a=b\r\n"
                     "noequals\r\n"
                     "=5\r\n"
                     "BaudRate=19200\r\n"
                     "[other]\n"
                     "key=lf-only line\n"
                     "last=no line end");

    struct {
        const char* Section;
        const char* Key;
        const char* Expected;
    } const cases[] = {
        {"CHANNEL_0", "BAUDRATE", "9600"},                                    // the first of two equal keys wins
        {"channel_0", "Baudrate", "9600"},       {"CHANNEL_0", "EMPTY", ""},  // present but empty is not missing
        {"CHANNEL_0", "QUOTED", "  a b "},       {"CHANNEL_0", "EQ", "a=b"},
        {"CHANNEL_0", "NOEQUALS", "default"},    {"CHANNEL_0", "ORPHAN", "default"},
        {"CHANNEL_0", "; a comment", "default"}, {"CHANNEL_0", "KEY", "default"},  // belongs to the next section
        {"OTHER", "key", "lf-only line"},        {"OTHER", "last", "no line end"},
        {"MISSING", "key", "default"},
    };
    const TIniFile ini = Ini();
    for (const auto& c : cases)
        EXPECT_EQ(ini.ReadString(c.Section, c.Key, "default"), c.Expected) << c.Section << "/" << c.Key;
}

TEST_F(IniFileTest, ReadOfAMissingFileGivesTheDefault)
{
    EXPECT_EQ(Ini().ReadString("IP", "ADDRESS", "dflt"), "dflt");
    EXPECT_TRUE(Ini().ReadSectionValues("IP").empty());
    EXPECT_FALSE(std::filesystem::exists(Name));
}

TEST_F(IniFileTest, ReadSectionValuesListsKeyValueLinesInFileOrder)
{
    WriteBytes(Name, "[A]\r\nx=1\r\n[Modbus]\r\n IPADDRESS = 127.0.0.1 "
                     "\r\n\r\n;c=1\r\nTimeout=5\r\nTimeout=7\r\njunk\r\n[B]\r\ny=2\r\n");
    EXPECT_EQ(Ini().ReadSectionValues("MODBUS"),
              (std::vector<std::string>{"IPADDRESS=127.0.0.1", "Timeout=5", "Timeout=7"}));
}

TEST_F(IniFileTest, WritesEditTheFileInPlaceAndTouchNothingElse)
{
    struct {
        const char* Before;
        const char* Section;
        const char* Key;
        const char* Value;
        const char* After;
    } const cases[] = {
        // a missing file is created
        {nullptr, "IP", "ADDRESS", "1.2.3.4", "[IP]\r\nADDRESS=1.2.3.4\r\n"},
        // an existing key is updated in place, keeping its spelling and the other lines' ends
        {"[ip]\n; note\n address = 9.9.9.9 \nx=1\n", "IP", "ADDRESS", "1.2.3.4",
         "[ip]\n; note\naddress=1.2.3.4\nx=1\n"},
        // a missing key goes after the section's last line, before blank lines that separate sections
        {"[IP]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "ip", "NEW", "v", "[IP]\r\nx=1\r\nNEW=v\r\n\r\n[B]\r\ny=2\r\n"},
        {"[IP]\r\n[B]\r\n", "IP", "NEW", "v", "[IP]\r\nNEW=v\r\n[B]\r\n"},
        {"[B]\r\ny=2", "B", "NEW", "v", "[B]\r\ny=2\r\nNEW=v\r\n"},
        // a missing section goes at the end of the file
        {"[B]\r\ny=2\r\n", "C", "k", "v", "[B]\r\ny=2\r\n[C]\r\nk=v\r\n"},
        {"[B]\r\ny=2", "C", "k", "v", "[B]\r\ny=2\r\n[C]\r\nk=v\r\n"},
        {"", "C", "k", "", "[C]\r\nk=\r\n"},
        // bytes beyond ASCII pass through untouched
        {"[\xC8\xCC\xDF]\r\n\xEA\xEB=\xFF\r\n", "C", "k", "\xE7",
         "[\xC8\xCC\xDF]\r\n\xEA\xEB=\xFF\r\n[C]\r\nk=\xE7\r\n"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(Name);
        if (c.Before)
            WriteBytes(Name, c.Before);
        Ini().WriteString(c.Section, c.Key, c.Value);
        EXPECT_EQ(ReadBytes(Name), c.After) << "before: " << (c.Before ? c.Before : "(no file)");
    }
}

TEST_F(IniFileTest, WrittenValuesReadBack)
{
    TIniFile ini = Ini();
    ini.WriteString("S", "K", "first");
    ini.WriteString("S", "k", "second");
    ini.WriteString("T", "K", " third ");
    EXPECT_EQ(ini.ReadString("s", "K", ""), "second");
    EXPECT_EQ(ReadBytes(Name), "[S]\r\nK=second\r\n[T]\r\nK= third \r\n");
    ini.WriteStrings({{"s", "NEW", "fourth"}, {"U", "K", "5"}, {"S", "new", "6"}});
    EXPECT_EQ(ini.ReadSectionValues("S"), (std::vector<std::string>{"K=second", "NEW=6"}));
    EXPECT_EQ(ReadBytes(Name), "[S]\r\nK=second\r\nNEW=6\r\n[T]\r\nK= third \r\n[U]\r\nK=5\r\n");
    EXPECT_EQ(Ini().ReadString("T", "K", ""), "third");
}

TEST_F(IniFileTest, ReplacingKeepsThePermissionsOfTheFile)
{
    WriteBytes(Name, "[S]\r\nK=1\r\n");
    std::filesystem::permissions(Name, std::filesystem::perms(0640));
    Ini().WriteString("S", "K", "2");
    EXPECT_EQ(std::filesystem::status(Name).permissions(), std::filesystem::perms(0640));
}

TEST_F(IniFileTest, WritingThroughASymlinkUpdatesItsTarget)
{
    const std::string target = Folder.File("target.ini");
    WriteBytes(target, "[S]\r\nK=1\r\n");
    std::filesystem::create_symlink(target, Name);
    Ini().WriteString("S", "K", "2");
    EXPECT_TRUE(std::filesystem::is_symlink(Name));
    EXPECT_EQ(ReadBytes(target), "[S]\r\nK=2\r\n");
}

void ExpectWriteFailure(TIniFile ini)
{
    try {
        ini.WriteString("S", "K", "new");
        ADD_FAILURE() << "no error for " << ini.FileName();
    } catch (const EIniFileError& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + ini.FileName()).c_str());
    }
}

TEST_F(IniFileTest, AFolderThatDoesNotExistCannotBeWritten)
{
    ExpectWriteFailure(TIniFile(Folder.File("no-such-folder/test.ini")));
    EXPECT_TRUE(FolderEntries(Folder.Path()).empty());
}

TEST_F(IniFileTest, ADirectoryInThePlaceOfTheFileCannotBeWritten)
{
    std::filesystem::create_directory(Name);
    ExpectWriteFailure(Ini());
    EXPECT_TRUE(std::filesystem::is_directory(Name));
    EXPECT_EQ(FolderEntries(Folder.Path()), std::vector<std::string>{"test.ini"});
}

// A full disk, made real for any user by a file-size limit: the write of the replacement fails
// half-way, and the previous file must stay byte for byte as it was, with no leftovers beside it.
TEST_F(IniFileTest, AFailedWriteLeavesThePreviousFileWhole)
{
    const std::string previous = "[S]\r\nK=old\r\n[Big]\r\n" + std::string(4096, 'x') + "=1\r\n";
    WriteBytes(Name, previous);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    ExpectWriteFailure(Ini());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_EQ(ReadBytes(Name), previous);
    EXPECT_EQ(FolderEntries(Folder.Path()), std::vector<std::string>{"test.ini"});
}

TEST_F(IniFileTest, ReadOnlyOrUnreadableFileCannotBeWritten)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root; the other failure tests cover root";
    const std::string previous = "[S]\r\nK=old\r\n";
    WriteBytes(Name, previous);

    std::filesystem::permissions(Name, std::filesystem::perms(0444));
    ExpectWriteFailure(Ini());
    EXPECT_EQ(ReadBytes(Name), previous);

    // Unreadable: replacing it would lose every line but the one written.
    std::filesystem::permissions(Name, std::filesystem::perms(0200));
    ExpectWriteFailure(Ini());
    std::filesystem::permissions(Name, std::filesystem::perms(0644));
    EXPECT_EQ(ReadBytes(Name), previous);
    EXPECT_EQ(FolderEntries(Folder.Path()), std::vector<std::string>{"test.ini"});
}

}  // namespace
