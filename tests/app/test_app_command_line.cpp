// The command line: what it asks for, and the configuration file it opens at start.

#include "AppTestSupport.h"

#include "CommandLine.h"
#include "ConfigFile.h"

namespace {

struct TCommandLineCase {
    const char* What;
    QStringList Arguments;  // after the program's own name
    TCommandLine::TKind Kind;
    QString FileName;
    QString TraceFile = {};
};

class CommandLineTest : public ::testing::TestWithParam<TCommandLineCase> {};

TEST_P(CommandLineTest, AsksForWhatItSays)
{
    const TCommandLine parsed = ParseCommandLine(QStringList{"KorvelService"} + GetParam().Arguments);
    EXPECT_EQ(parsed.Kind, GetParam().Kind);
    EXPECT_EQ(parsed.FileName, GetParam().FileName);
    EXPECT_EQ(parsed.TraceFile, GetParam().TraceFile);
    EXPECT_EQ(parsed.Error.isEmpty(), parsed.Kind != TCommandLine::TKind::Error);
}

using TKind = TCommandLine::TKind;
INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineTest,
    ::testing::Values(TCommandLineCase{"nothing", {}, TKind::Run, {}},
                      TCommandLineCase{"a file", {"plant.ini"}, TKind::Run, "plant.ini"},
                      TCommandLineCase{"help", {"--help"}, TKind::Help, {}},
                      TCommandLineCase{"short help after a file", {"plant.ini", "-h"}, TKind::Help, {}},
                      TCommandLineCase{"version", {"--version"}, TKind::Version, {}},
                      TCommandLineCase{"short version", {"-v"}, TKind::Version, {}},
                      TCommandLineCase{"unknown option", {"--verbose"}, TKind::Error, {}},
                      TCommandLineCase{"two files", {"a.ini", "b.ini"}, TKind::Error, {}},
                      TCommandLineCase{"a file named like an option", {"--", "-odd.ini"}, TKind::Run, "-odd.ini"},
                      TCommandLineCase{"a lone dash is a file name", {"-"}, TKind::Run, "-"},
                      TCommandLineCase{
                          "a trace file", {"--trace", "t.txt", "plant.ini"}, TKind::Run, "plant.ini", "t.txt"},
                      TCommandLineCase{"a trace file after =", {"--trace=t.txt"}, TKind::Run, {}, "t.txt"},
                      TCommandLineCase{"a trace without its file", {"--trace"}, TKind::Error, {}}),
    ParamNameFromWhat<TCommandLineCase>);

}  // namespace

using OpenAtStartTest = MainWindowFixture;

TEST_F(OpenAtStartTest, AFileIsOpenedAsTheOpenCommandDoes)
{
    TModuleConfig config{};
    config.Address = {10, 1, 2, 3};
    config.TCPPort = 1502;
    const QString name = Path("plant.ini");
    SaveConfigToFile(name.toStdString(), config);
    // A relative name is taken from the current folder and shown by its full path.
    const QString current = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Folder.path()));
    Window().OpenFileAtStart("plant.ini");
    QDir::setCurrent(current);

    EXPECT_TRUE(Dialogs.Boxes.empty());
    EXPECT_EQ(Window().windowTitle(), "KorvelService [" + QFileInfo(name).absoluteFilePath() + "]");
    EXPECT_EQ(AddressEdit(1)->text(), "10.1.2.3");
    EXPECT_EQ(PortEdit()->Value(), 1502);
    EXPECT_FALSE(Window().Modified);
}

TEST_F(OpenAtStartTest, AMissingFileIsToldAndTheWindowStaysAsItStarted)
{
    const QString missing = Path("missing.ini");
    Window().OpenFileAtStart(missing);
    ASSERT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_EQ(Dialogs.Boxes[0].Text, "Ошибка открытия файла " + missing);
    EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);
    EXPECT_EQ(Window().windowTitle(), "KorvelService");
    EXPECT_EQ(AddressEdit(1)->Text(), "   .   .   .   ");
    EXPECT_FALSE(Window().Modified);
}
