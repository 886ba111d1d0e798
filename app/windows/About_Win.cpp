#include "About_Win.h"

#include "FileInfo.h"

#include <QApplication>

#include <utility>

namespace {
constexpr int MakerPixels = 21;
}  // namespace

TAboutWindow::TAboutWindow(TShowHelpTopic showHelpTopic, QWidget* parent) : TForm(parent)
{
    setupUi(this);
    // The program as a whole has no page of its own: the contents describe it.
    SetHelpTopic(std::move(showHelpTopic), QStringLiteral("KorvelService_Conent.htm"));
    QFont makerFont = Label1->font();
    makerFont.setPixelSize(MakerPixels);
    Label1->setFont(makerFont);
    // The program's icon is the one the application shows on its windows.
    Image1->setPixmap(QApplication::windowIcon().pixmap(Image1->maximumSize()));
    connect(Button1, &QPushButton::clicked, this, &TAboutWindow::Button1Click);
}

void TAboutWindow::FillAbout(const QWidget* mainWindow)
{
    if (mainWindow)
        move(mainWindow->x() + mainWindow->width() / 2 - width() / 2,
             mainWindow->y() + mainWindow->height() / 2 - height() / 2);
    int major = 0;
    int minor = 0;
    GetProgramVersion(major, minor);
    Label3->setText(tr("Версия: %1.%2").arg(major).arg(minor));
}

void TAboutWindow::ShowAbout(const QWidget* mainWindow)
{
    FillAbout(mainWindow);
    exec();
}

void TAboutWindow::Button1Click()
{
    close();
}

bool TAboutWindow::FormKeyPress(QChar key)
{
    if (key != KeyEnter && key != KeyEscape)
        return false;
    close();
    return true;
}

void ShowAboutWindow(const QWidget* mainWindow, const TShowHelpTopic& showHelpTopic)
{
    TAboutWindow window(showHelpTopic);
    window.ShowAbout(mainWindow);
}
