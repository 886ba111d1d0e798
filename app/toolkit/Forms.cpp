#include "Forms.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLayout>

#include <algorithm>
#include <utility>

namespace {
constexpr int FormFontPixels = 15;
}  // namespace

void SetFormFont(QWidget* form)
{
    QFont font(QStringLiteral("Arial Narrow"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(FormFontPixels);
    form->setFont(font);
}

QPoint PlaceWithin(const QRect& area, QPoint wanted, QSize size)
{
    const int x = std::clamp(wanted.x(), area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    const int y = std::clamp(wanted.y(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    return {x, y};
}

TForm::TForm(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    SetFormFont(this);
    // The application sees a key once, before the focused control and its parents do.
    qApp->installEventFilter(this);
}

void TForm::SetHelpTopic(TShowHelpTopic showHelpTopic, const QString& topic)
{
    ShowHelpTopic = std::move(showHelpTopic);
    HelpTopic = topic;
}

bool TForm::FormKeyDown(int key, Qt::KeyboardModifiers)
{
    if (key != Qt::Key_F1 || HelpTopic.isEmpty())
        return false;
    if (ShowHelpTopic)
        ShowHelpTopic(HelpTopic);
    return true;
}

bool TForm::FormKeyPress(QChar)
{
    return false;
}

void TForm::FixSize()
{
    if (layout())
        layout()->setSizeConstraint(QLayout::SetFixedSize);
    else
        setFixedSize(size());
}

bool TForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    if (static_cast<QWidget*>(watched)->window() != this)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (FormKeyDown(key->key(), key->modifiers()))
        return true;
    return !key->text().isEmpty() && FormKeyPress(key->text().front());
}

TEditForm::TEditForm(QWidget* parent) : TForm(parent)
{}

void TEditForm::BindButtons(QAbstractButton* ok, QAbstractButton* cancel)
{
    connect(ok, &QAbstractButton::clicked, this, &TEditForm::Button1Click);
    connect(cancel, &QAbstractButton::clicked, this, &TEditForm::Button2Click);
}

void TEditForm::Button1Click()
{
    if (!ValidateInput())
        return;
    Accepted = true;
    accept();
}

void TEditForm::Button2Click()
{
    Accepted = false;
    reject();
}

bool TEditForm::FormKeyPress(QChar key)
{
    // Consumed even when the input is bad, so that the key does not press a default button too.
    // Enter presses the button that has the focus, as in every dialog; elsewhere it confirms.
    if (key == KeyEnter) {
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && focused->isEnabled())
            focused->click();
        else
            Button1Click();
    } else if (key == KeyEscape)
        Button2Click();
    else
        return false;
    return true;
}
