#include "Dialogs.h"
#include "WidgetsTestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct TBoxCase {
    unsigned Flags;
    QMessageBox::Icon Icon;
    QMessageBox::StandardButtons Buttons;
    QMessageBox::StandardButton Pressed;  // NoButton: the operator presses Esc
    int Answer;
};

void PrintTo(const TBoxCase& c, std::ostream* out)
{
    *out << "flags 0x" << std::hex << c.Flags << " answer " << std::dec << c.Answer;
}

class MessageBoxFlags : public testing::TestWithParam<TBoxCase> {};

TEST_P(MessageBoxFlags, ShowsTheFlagsButtonsAndIconAndAnswersThePressedButton)
{
    const TBoxCase& c = GetParam();
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons shownButtons;
    QString shownCaption, shownText;
    WhenModalShown([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        shownIcon = box->icon();
        shownButtons = box->standardButtons();
        shownCaption = box->windowTitle();
        shownText = box->text();
        if (c.Pressed == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(c.Pressed)->click();
    });

    EXPECT_EQ(MessageBox(QStringLiteral("Текст"), QStringLiteral("KorvelService"), c.Flags), c.Answer);
    EXPECT_EQ(shownIcon, c.Icon);
    EXPECT_EQ(shownButtons, c.Buttons);
    EXPECT_EQ(shownCaption, QStringLiteral("KorvelService"));
    EXPECT_EQ(shownText, QStringLiteral("Текст"));
}

constexpr auto YesNoCancel = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
constexpr auto YesNo = QMessageBox::Yes | QMessageBox::No;

INSTANTIATE_TEST_SUITE_P(
    Dialogs, MessageBoxFlags,
    testing::Values(TBoxCase{MB::IconError, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, ID::Ok},
                    TBoxCase{MB::Information, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, ID::Ok},
                    TBoxCase{MB::YesNoCancelQuestion, QMessageBox::Question, YesNoCancel, QMessageBox::Yes, ID::Yes},
                    TBoxCase{MB::YesNoCancelQuestion, QMessageBox::Question, YesNoCancel, QMessageBox::No, ID::No},
                    TBoxCase{MB::YesNoCancelQuestion, QMessageBox::Question, YesNoCancel, QMessageBox::NoButton,
                             ID::Cancel},
                    TBoxCase{MB::YesNoQuestion, QMessageBox::Question, YesNo, QMessageBox::Yes, ID::Yes},
                    TBoxCase{MB::YesNoQuestion, QMessageBox::Question, YesNo, QMessageBox::No, ID::No}));

TEST(Dialogs, ClosingAYesNoCancelBoxAnswersCancel)
{
    WhenModalShown([](QWidget* modal) { modal->close(); });
    EXPECT_EQ(MessageBox(QStringLiteral("?"), QStringLiteral("KorvelService"), MB::YesNoCancelQuestion), ID::Cancel);
}

TEST(Dialogs, FilterTextBecomesQtNameFilters)
{
    const struct {
        const char* Filter;
        const char* Expected;
    } cases[] = {
        {"Ini-файлы  (*.ini)|*.ini", "Ini-файлы  (*.ini)"},
        {"Hex - файлы (*.hex)|*.hex", "Hex - файлы (*.hex)"},
        {"Config|*.ini;*.cfg|All|*.*", "Config (*.ini *.cfg);;All (*.*)"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QtNameFilters(QString::fromUtf8(c.Filter)), QString::fromUtf8(c.Expected)) << c.Filter;
}

TEST(Dialogs, SaveDialogAddsTheDefaultExtensionToATypedName)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    TFileDialog dialog(TFileDialog::TKind::Save);
    dialog.Filter = QStringLiteral("Ini-файлы (*.ini)|*.ini");
    dialog.DefaultExt = QStringLiteral("ini");
    dialog.FileName = folder.filePath(QStringLiteral("start.ini"));
    WhenModalShown([](QWidget* modal) {
        auto* fileDialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(fileDialog, nullptr);
        fileDialog->selectFile(QStringLiteral("typed"));
        QMetaObject::invokeMethod(fileDialog, "accept");
    });

    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, folder.filePath(QStringLiteral("typed.ini")));
}

TEST(Dialogs, CancelledFileDialogKeepsTheFileName)
{
    TFileDialog dialog(TFileDialog::TKind::Open);
    dialog.FileName = QStringLiteral("/nonexistent/kept.ini");
    WhenModalShown([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });

    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.FileName, QStringLiteral("/nonexistent/kept.ini"));
}

TEST(Dialogs, HooksReplaceTheRealWindows)
{
    DialogsTestHook::OnFileDialog = [](TFileDialog& dialog) {
        dialog.FileName = QStringLiteral("/tmp/chosen.ini");
        return true;
    };
    TMessageBoxRecorder boxes(ID::No);

    TFileDialog dialog(TFileDialog::TKind::Open);
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(MessageBox(QStringLiteral("a"), QStringLiteral("b"), MB::YesNoQuestion), ID::No);

    EXPECT_EQ(dialog.FileName, QStringLiteral("/tmp/chosen.ini"));
    ASSERT_EQ(boxes.Shown.size(), 1u);
    EXPECT_EQ(boxes.Shown[0].Flags, MB::YesNoQuestion);
    DialogsTestHook::OnFileDialog = nullptr;
}

}  // namespace
