// Loading and saving whole files, and how their failures are reported.
#include "XML.h"
#include "XMLTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class XMLFile : public testing::Test {
protected:
    void SetUp() override
    {
        Folder = fs::temp_directory_path() / ("xml_file_test_" + std::to_string(::getpid()));
        fs::remove_all(Folder);
        fs::create_directories(Folder);
    }
    void TearDown() override
    {
        fs::permissions(Folder, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(Folder);
    }

    std::string PathOf(const std::string& name) const { return (Folder / name).string(); }

    static void Write(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Only the target: no temporary file may stay behind.
    std::vector<std::string> FolderContents() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static void ExpectFileError(const std::function<void()>& action, uint8_t kind, const std::string& message)
    {
        try {
            action();
            ADD_FAILURE() << "no exception";
        } catch (const EXMLParseError& e) {
            EXPECT_EQ(e.Kind, kind);
            EXPECT_EQ(e.what(), message);
            EXPECT_EQ(e.Line, -1);
            EXPECT_EQ(e.Column, -1);
            EXPECT_EQ(e.State, 255);
        }
    }

    fs::path Folder;
};

TEST_F(XMLFile, SaveWritesTheTextAndLoadReadsItBack)
{
    const std::string path = PathOf("KorvelService.xml");
    Example().SaveToFile(path);
    EXPECT_EQ(Read(path), ExampleText);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"KorvelService.xml"});

    TXMLDocument loaded;
    loaded.LoadFromFile(path);
    EXPECT_EQ(loaded.GetValue("CONNECT\\IPAddress"), "192.168.127.10");
    EXPECT_EQ(loaded.GetValue("Connect\\TCPPort"), "502");
}

TEST_F(XMLFile, SaveReplacesAnOlderFileAndKeepsItsPermissions)
{
    const std::string path = PathOf("settings.xml");
    Write(path, std::string(10000, 'o'));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    Example().SaveToFile(path);
    EXPECT_EQ(Read(path), ExampleText);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(XMLFile, EmptyDocumentSavesAnEmptyFileThatLoadsToNothing)
{
    const std::string path = PathOf("empty.xml");
    TXMLDocument().SaveToFile(path);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);

    TXMLDocument loaded;
    loaded.LoadFromFile(path);
    EXPECT_EQ(loaded.Count(), 0);
}

TEST_F(XMLFile, LoadAppendsAfterTheNodesHeld)
{
    const std::string path = PathOf("a.xml");
    Write(path, "<b>2</b>");
    TXMLDocument document;
    document.SetValue("a", "1");
    document.LoadFromFile(path);
    EXPECT_EQ(TreeText(document), "a{1} | b{2}");
}

TEST_F(XMLFile, LoadFailuresAreReportedByKind)
{
    const std::string missing = PathOf("missing.xml");
    ExpectFileError([&] { TXMLDocument().LoadFromFile(missing); }, 7, "Ошибка открытия файла: " + missing);

    const std::string folder = PathOf("folder.xml");
    fs::create_directory(folder);
    ExpectFileError([&] { TXMLDocument().LoadFromFile(folder); }, 6, "Ошибка чтения файла: " + folder);
}

TEST_F(XMLFile, ParseErrorOfTheFileReachesTheCallerUnchanged)
{
    const std::string path = PathOf("broken.xml");
    Write(path, "<a>1</a>\r\n<b x='1'>");
    TXMLDocument document;
    try {
        document.LoadFromFile(path);
        FAIL() << "accepted";
    } catch (const EXMLParseError& e) {
        EXPECT_EQ(e.Kind, 2);
        EXPECT_EQ(e.State, 9);
        EXPECT_EQ(e.Line, 2);
        EXPECT_EQ(e.Column, 7);
    }
    EXPECT_EQ(TreeText(document), "a{1}");
}

TEST_F(XMLFile, SaveThatCannotCreateTheFileLeavesEverythingAsItWas)
{
    const std::string inMissingFolder = PathOf("no-such-folder/settings.xml");
    ExpectFileError([&] { Example().SaveToFile(inMissingFolder); }, 8, "Ошибка создания файла " + inMissingFolder);

    const std::string folderAsTarget = PathOf("target.xml");
    fs::create_directory(folderAsTarget);
    Write(PathOf("target.xml/inside"), "kept");
    ExpectFileError([&] { Example().SaveToFile(folderAsTarget); }, 8, "Ошибка создания файла " + folderAsTarget);
    EXPECT_EQ(Read(PathOf("target.xml/inside")), "kept");
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"target.xml"});

    // Writing the text is what mends a declaration's version; a file never created leaves it as it was.
    TXMLDocument declared;
    declared.LoadFromText("<?xml version=\"1,0\" ?>");
    ExpectFileError([&] { declared.SaveToFile(inMissingFolder); }, 8, "Ошибка создания файла " + inMissingFolder);
    EXPECT_EQ(declared.Tag(0).Attribute(0).Value(), "1,0");
}

TEST_F(XMLFile, SaveWritesThroughSymbolicLinks)
{
    fs::create_directory(Folder / "real");
    const std::string real = PathOf("real/settings.xml");
    Write(real, "old");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink("real/settings.xml", Folder / "link.xml");
    fs::create_symlink("link.xml", Folder / "chain.xml");
    fs::create_symlink("real/new.xml", Folder / "dangling.xml");

    Example().SaveToFile(PathOf("chain.xml"));
    EXPECT_EQ(Read(real), ExampleText);
    EXPECT_EQ(fs::status(real).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    Example().SaveToFile(PathOf("dangling.xml"));
    EXPECT_EQ(Read(PathOf("real/new.xml")), ExampleText);

    EXPECT_EQ(FolderContents(), (std::vector<std::string>{"chain.xml", "dangling.xml", "link.xml", "real"}));
    for (const char* link : {"chain.xml", "dangling.xml", "link.xml"})
        EXPECT_TRUE(fs::is_symlink(Folder / link)) << link;
}

TEST_F(XMLFile, SaveReplacesNothingButAPlainFile)
{
    const std::string loop = PathOf("loop.xml");
    fs::create_symlink("loop.xml", loop);
    ExpectFileError([&] { Example().SaveToFile(loop); }, 8, "Ошибка создания файла " + loop);

    const std::string pipe = PathOf("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string toPipe = PathOf("settings.xml");
    fs::create_symlink("pipe", toPipe);
    ExpectFileError([&] { Example().SaveToFile(toPipe); }, 8, "Ошибка создания файла " + toPipe);
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(FolderContents(), (std::vector<std::string>{"loop.xml", "pipe", "settings.xml"}));
}

// A file-size limit makes the write itself fail, for root as for anyone.
TEST_F(XMLFile, FailedWriteLeavesThePreviousFileByteIdentical)
{
    const std::string path = PathOf("settings.xml");
    const std::string previous = "<CONNECT>\r\n <TCPPort>1502</TCPPort>\r\n</CONNECT>\r\n";
    Write(path, previous);

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 16;
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ExpectFileError([&] { Example().SaveToFile(path); }, 8, "Ошибка записи в файл " + path);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);

    EXPECT_EQ(Read(path), previous);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"settings.xml"});
}

// The folder takes no temporary file, but the file itself is writable: it is written in place.
TEST_F(XMLFile, SaveIntoAReadOnlyFolderOverwritesItsWritableFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root from writing";
    const std::string path = PathOf("settings.xml");
    Write(path, std::string(1000, 'o'));
    fs::permissions(Folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    Example().SaveToFile(path);
    EXPECT_EQ(Read(path), ExampleText);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"settings.xml"});
    const std::string absent = PathOf("absent.xml");
    ExpectFileError([&] { Example().SaveToFile(absent); }, 8, "Ошибка создания файла " + absent);
}

TEST_F(XMLFile, SaveLeavesAReadOnlyFileUnwritten)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root from writing";
    const std::string path = PathOf("settings.xml");
    Write(path, "old");
    fs::permissions(path, fs::perms::owner_read);
    ExpectFileError([&] { Example().SaveToFile(path); }, 8, "Ошибка создания файла " + path);
    EXPECT_EQ(Read(path), "old");
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"settings.xml"});
}

}  // namespace
