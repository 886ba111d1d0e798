#include "Info_Win.h"

#include <QScreen>
#include <QStringList>

#include <utility>

namespace {
constexpr int JumperStatePixels = 16;
const QPoint WindowPosition(642, 350);
}  // namespace

TInfoWindow::TInfoWindow(TShowHelpTopic showHelpTopic, QWidget* parent) : TForm(parent)
{
    setupUi(this);
    SetHelpTopic(std::move(showHelpTopic), QStringLiteral("KorvelService_Info.htm"));
    QFont stateFont = Label4->font();
    stateFont.setBold(true);
    stateFont.setPixelSize(JumperStatePixels);
    Label4->setFont(stateFont);
    connect(Button1, &QPushButton::clicked, this, &TInfoWindow::Button1Click);
    // Its own place, unless that would put part of it (the end of the MAC address) off a small
    // screen.
    move(screen() ? PlaceWithin(screen()->availableGeometry(), WindowPosition, size()) : WindowPosition);
}

void TInfoWindow::FillInfo(const TModuleInfo& info)
{
    Edit1->setText(QString::fromStdString(FirmwareText(info)));
    Edit2->setText(QString::fromStdString(MacText(info)));

    const bool fitted = JumperFitted(info);
    Label4->setText(fitted ? tr("Установлена") : tr("Не установлена"));
    QPalette palette = Label4->palette();
    palette.setColor(QPalette::WindowText, fitted ? Qt::red : Qt::black);
    Label4->setPalette(palette);
}

void TInfoWindow::ShowInfo(const TModuleInfo& info)
{
    FillInfo(info);
    exec();
}

void TInfoWindow::Button1Click()
{
    close();
}

bool TInfoWindow::FormKeyPress(QChar key)
{
    if (key != KeyEscape)
        return false;
    close();
    return true;
}

void ShowModuleInfo(const TModuleInfo& info, const TShowHelpTopic& showHelpTopic)
{
    TInfoWindow window(showHelpTopic);
    window.ShowInfo(info);
}
