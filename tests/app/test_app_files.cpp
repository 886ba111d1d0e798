// The window's configuration files as an engineer meets them through a day: files that cannot be
// read, edits in the way of another file, a new configuration, the recent files and the folder the
// file dialogs start in.

#include "AppTestSupport.h"

#include "ConfigFile.h"
#include "ConnectionSettings.h"
#include "ModuleDefaults.h"

#include <QMenu>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString SaveQuestion = QStringLiteral("В конфигурацию внесены изменения. Сохранить их в файле ?");

// File permissions hold for this test's body: as root, the process acts as "nobody" until the end
// of the scope (root keeps its saved id, so it can come back).
class TAsOrdinaryUser {
public:
    TAsOrdinaryUser()
    {
        if (::geteuid() != 0)
            return;
        const passwd* nobody = ::getpwnam("nobody");
        Switched = nobody && ::seteuid(nobody->pw_uid) == 0;
    }
    ~TAsOrdinaryUser()
    {
        if (Switched) {
            EXPECT_EQ(::seteuid(0), 0);
        }
    }
    TAsOrdinaryUser(const TAsOrdinaryUser&) = delete;
    TAsOrdinaryUser& operator=(const TAsOrdinaryUser&) = delete;

    bool Ready() const { return Switched || ::geteuid() != 0; }

private:
    bool Switched = false;
};

class FilesTest : public MainWindowFixture {
public:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        // Another user works in the folder too.
        ASSERT_EQ(::chmod(Folder.path().toLocal8Bit().constData(), 0777), 0);
    }

    QString WriteConfig(const char* name, const TModuleConfig& config)
    {
        const QString path = Path(name);
        SaveConfigToFile(path.toStdString(), config);
        return path;
    }

    // The window shows a configuration nobody saved.
    void Edit()
    {
        Window().ConfigToControls(SampleConfig());
        ASSERT_TRUE(Window().Modified);
    }

    QStringList RecentMenu()
    {
        QStringList items;
        for (QAction* item : Window().findChild<QMenu*>("RecentFilesMenu")->actions())
            items << item->text();
        return items;
    }
};

TModuleConfig WithPort(uint16_t port)
{
    TModuleConfig config = SampleConfig();
    config.TCPPort = port;
    return config;
}

}  // namespace

TEST_F(FilesTest, AFileThatCannotBeReadIsRefusedAndTheWindowKeepsWhatItShowed)
{
    const QString secret = WriteConfig("secret.ini", WithPort(504));
    ASSERT_EQ(::chmod(secret.toLocal8Bit().constData(), 0), 0);
    const struct {
        const char* What;
        std::function<void(FilesTest&)> Open;
    } cases[] = {
        {"Open",
         [&](FilesTest& t) {
             t.Dialogs.FileAnswers = {secret};
             t.Action("FileOpenAction")->trigger();
         }},
        {"the command line", [&](FilesTest& t) { t.Window().OpenFileAtStart(secret); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        Window_.reset();
        Dialogs.Boxes.clear();
        Window().ConfigToControls(WithPort(1600));
        Window().SetModified(false);
        TAsOrdinaryUser user;
        ASSERT_TRUE(user.Ready());
        c.Open(*this);

        ASSERT_EQ(Dialogs.Boxes.size(), 1u);
        EXPECT_EQ(Dialogs.Boxes[0].Text, "Ошибка открытия файла " + secret);
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x10u);
        EXPECT_EQ(PortEdit()->Value(), 1600);
        EXPECT_EQ(Window().windowTitle(), "KorvelService");
        EXPECT_FALSE(Window().Modified);
        EXPECT_TRUE(RecentMenu().isEmpty());
    }
}

TEST_F(FilesTest, SaveAsksBeforeReplacingAFileWhoseContentsCouldNotBeRead)
{
    const QByteArray notes = "[TCP]\r\nTCP_PORT=504\r\n[NOTES]\r\nCabinet=3\r\n";
    const QString target = Path("write-only.ini");
    for (const int answer : {ID::No, ID::Yes}) {
        SCOPED_TRACE(answer);
        Window_.reset();
        Dialogs.Boxes.clear();
        QFile::remove(target);
        {
            QFile file(target);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(notes);
        }
        ASSERT_EQ(::chmod(target.toLocal8Bit().constData(), 0222), 0);
        Window().ConfigToControls(SampleConfig());
        Dialogs.BoxAnswers = {answer};
        Dialogs.FileAnswers = {target};
        {
            TAsOrdinaryUser user;
            ASSERT_TRUE(user.Ready());
            Action("SaveAsFileAction")->trigger();
        }
        ASSERT_EQ(::chmod(target.toLocal8Bit().constData(), 0644), 0);

        ASSERT_EQ(Dialogs.Boxes.size(), 1u);
        EXPECT_EQ(Dialogs.Boxes[0].Text, "Файл " + target +
                                             " не удаётся прочитать, его содержимое будет потеряно. Заменить "
                                             "файл конфигурацией ?");
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x24u);
        if (answer == ID::No) {
            EXPECT_EQ(FileBytes(target), notes);
            EXPECT_TRUE(Window().Modified);
            EXPECT_EQ(Window().windowTitle(), "KorvelService");
        } else {
            TModuleConfig saved{};
            ASSERT_TRUE(LoadConfigFromFile(target.toStdString(), saved));
            EXPECT_EQ(saved.TCPPort, 1502);
            EXPECT_FALSE(FileBytes(target).contains("[NOTES]"));
            EXPECT_FALSE(Window().Modified);
            EXPECT_EQ(Window().windowTitle(), "KorvelService [" + target + "]");
        }
    }
}

TEST_F(FilesTest, OpenWhileEditedAsksFirstAndFollowsTheAnswer)
{
    const QString other = WriteConfig("other.ini", WithPort(4000));
    const QString kept = Path("kept.ini");
    struct TCase {
        const char* What;
        int Answer;
        std::deque<std::optional<QString>> Files;  // the save dialog's, then the open dialog's
        std::function<void(FilesTest&)> Spoil;
        bool Opens;
        bool Saved;
    };
    const TCase cases[] = {
        {"Отмена stops at once", ID::Cancel, {}, {}, false, false},
        {"Нет discards the edits and opens", ID::No, {other}, {}, true, false},
        {"Да saves, then opens", ID::Yes, {kept, other}, {}, true, true},
        {"Да with the save dialog cancelled stops", ID::Yes, {std::nullopt, other}, {}, false, false},
        {"Да with a value the save refuses stops",
         ID::Yes,
         {kept, other},
         [](FilesTest& t) { t.AddressEdit(1)->setText("300.0.0.1"); },
         false,
         false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        Window_.reset();
        QFile::remove(kept);
        Dialogs.Boxes.clear();
        Dialogs.FileDialogs.clear();
        Edit();
        if (c.Spoil)
            c.Spoil(*this);
        const QString shown = AddressEdit(1)->text();
        Dialogs.BoxAnswers = {c.Answer};
        Dialogs.FileAnswers = c.Files;
        Action("FileOpenAction")->trigger();

        ASSERT_FALSE(Dialogs.Boxes.empty());
        EXPECT_EQ(Dialogs.Boxes[0].Text, SaveQuestion);
        EXPECT_EQ(Dialogs.Boxes[0].Flags, 0x23u);
        EXPECT_EQ(QFile::exists(kept), c.Saved);
        if (c.Opens) {
            EXPECT_EQ(Dialogs.FileDialogs.back().Kind, TFileDialog::TKind::Open);
            EXPECT_EQ(PortEdit()->Value(), 4000);
            EXPECT_EQ(Window().windowTitle(), "KorvelService [" + other + "]");
            EXPECT_FALSE(Window().Modified);
        } else {
            for (const TShownFileDialog& dialog : Dialogs.FileDialogs)
                EXPECT_EQ(dialog.Kind, TFileDialog::TKind::Save);
            EXPECT_EQ(AddressEdit(1)->text(), shown);
            EXPECT_EQ(PortEdit()->Value(), 1502);
            EXPECT_TRUE(Window().Modified);
            EXPECT_EQ(Window().windowTitle(), "KorvelService");
        }
    }
}

TEST_F(FilesTest, NewShowsTheFactoryConfigurationAfterAskingAboutTheEdits)
{
    const struct {
        const char* What;
        bool Edited;
        int Answer;
        bool Replaced;
    } cases[] = {
        {"unedited: no question", false, ID::Ok, true},
        {"edited, Нет", true, ID::No, true},
        {"edited, Отмена", true, ID::Cancel, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        Window_.reset();
        Dialogs.Boxes.clear();
        Window().OpenFile(WriteConfig("plant.ini", SampleConfig()));
        if (c.Edited) {
            QTest::keyClick(AddressEdit(2), Qt::Key_Home);
            QTest::keyClicks(AddressEdit(2), "9");
        }
        Dialogs.BoxAnswers = {c.Answer};
        Action("FileNewAction")->trigger();

        EXPECT_EQ(Dialogs.Boxes.size(), c.Edited ? 1u : 0u);
        if (!c.Replaced) {
            EXPECT_TRUE(Window().Modified);
            EXPECT_EQ(PortEdit()->Value(), 1502);
            continue;
        }
        EXPECT_FALSE(Window().Modified);
        EXPECT_EQ(Window().windowTitle(), "KorvelService");
        ASSERT_TRUE(Window().ControlsToConfig());
        EXPECT_TRUE(SameRecord(Window().Config, FactoryDefaults));
    }
}

TEST_F(FilesTest, RecentFilesListTheNewestFirstAndComeBackWithTheSettingsFile)
{
    std::vector<QString> files;
    for (int i = 0; i < 10; ++i)
        files.push_back(WriteConfig(("plant" + std::to_string(i) + ".ini").c_str(), WithPort(uint16_t(3000 + i))));
    EXPECT_FALSE(Window().findChild<QMenu*>("RecentFilesMenu")->isEnabled());
    for (const QString& file : files)
        ASSERT_TRUE(Window().OpenFile(file));
    // Opening one again moves it to the top; a saved one comes first too.
    ASSERT_TRUE(Window().OpenFile(files[5]));
    Dialogs.FileAnswers = {Path("saved.ini")};
    Action("SaveAsFileAction")->trigger();

    const QStringList expected{"&1 " + Path("saved.ini"), "&2 " + files[5], "&3 " + files[9], "&4 " + files[8],
                               "&5 " + files[7],          "&6 " + files[6], "&7 " + files[4], "&8 " + files[3]};
    EXPECT_EQ(RecentMenu(), expected);
    ASSERT_TRUE(CloseWindow());

    // The next start offers the same files; one chosen opens.
    Window_.reset();
    EXPECT_EQ(RecentMenu(), expected);
    Window().findChild<QMenu*>("RecentFilesMenu")->actions()[3]->trigger();
    EXPECT_EQ(PortEdit()->Value(), 3008);
    EXPECT_EQ(RecentMenu()[0], "&1 " + files[8]);

    // Alt and its number open one from the window, the menu closed, whichever control has the focus.
    Window().show();
    QApplication::setActiveWindow(&Window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
    AddressEdit(1)->setFocus();
    QTest::keyClick(AddressEdit(1), Qt::Key_5, Qt::AltModifier);
    EXPECT_EQ(PortEdit()->Value(), 3007);
    EXPECT_EQ(RecentMenu()[0], "&1 " + files[7]);

    // One that has gone is told and leaves the list.
    ASSERT_TRUE(QFile::remove(files[9]));
    Window().findChild<QMenu*>("RecentFilesMenu")->actions()[4]->trigger();
    ASSERT_EQ(Dialogs.Boxes.size(), 1u);
    EXPECT_EQ(Dialogs.Boxes[0].Text, "Файл " + files[9] + " не найден. Он удалён из списка последних файлов.");
    EXPECT_EQ(RecentMenu().size(), 7);
    EXPECT_FALSE(RecentMenu().join('\n').contains(files[9]));
    EXPECT_EQ(PortEdit()->Value(), 3007);
}

TEST_F(FilesTest, FileDialogsStartInTheFolderOfTheFileInTheWindow)
{
    QDir(Folder.path()).mkpath("site");
    const QString site = Folder.filePath("site");
    const QString plant = site + "/plant.ini";
    SaveConfigToFile(plant.toStdString(), SampleConfig());
    Action("FileOpenAction")->trigger();  // cancelled: nothing to start from yet
    ASSERT_TRUE(Window().OpenFile(plant));
    Action("FileOpenAction")->trigger();
    Action("SaveAsFileAction")->trigger();
    // After a new configuration, the last file's folder.
    Action("FileNewAction")->trigger();
    Action("SaveFileAction")->trigger();

    ASSERT_EQ(Dialogs.FileDialogs.size(), 4u);
    EXPECT_EQ(Dialogs.FileDialogs[0].InitialDir, "");
    EXPECT_EQ(Dialogs.FileDialogs[1].InitialDir, site);
    EXPECT_EQ(Dialogs.FileDialogs[2].InitialDir, site);
    EXPECT_EQ(Dialogs.FileDialogs[2].FileName, plant);
    EXPECT_EQ(Dialogs.FileDialogs[3].InitialDir, site);
    EXPECT_EQ(Dialogs.FileDialogs[3].FileName, "");
}
