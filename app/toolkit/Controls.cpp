#include "Controls.h"

#include "Dialogs.h"
#include "RConvert.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionSpinBox>

#include <algorithm>

namespace {
// Digits are optional ('0'), the dots fixed, unfilled positions blank as spaces.
const QString IPInputMask = QStringLiteral("000.000.000.000; ");
}  // namespace

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent)
{
    lineEdit()->setText(QStringLiteral("0"));
    connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::Changed);
}

int TSpinEdit::MaxLength() const
{
    return lineEdit()->maxLength();
}

void TSpinEdit::SetMaxLength(int length)
{
    lineEdit()->setMaxLength(length);
}

int32_t TSpinEdit::Value() const
{
    return ParseIntegerText(Text().toStdString()).value_or(FMinValue);
}

void TSpinEdit::SetValue(int32_t value)
{
    lineEdit()->setText(QString::number(CheckValue(value)));
}

QString TSpinEdit::Text() const
{
    return lineEdit()->text();
}

void TSpinEdit::SetText(const QString& text)
{
    lineEdit()->setText(text);
}

bool TSpinEdit::IsTextInRange() const
{
    return IsValueInRange(Text().toStdString(), FMinValue, FMaxValue);
}

QString TSpinEdit::RangeText() const
{
    return QStringLiteral("%1..%2").arg(FMinValue).arg(FMaxValue);
}

bool CheckTextInRange(const TSpinEdit& edit, const QString& message)
{
    if (edit.IsTextInRange())
        return true;
    ShowInputError(message.arg(edit.RangeText()));
    return false;
}

void TSpinEdit::stepBy(int steps)
{
    // 64-bit sum: stepping past the 32-bit ends must not wrap around.
    const int64_t stepped = int64_t{Value()} + steps;
    SetValue(static_cast<int32_t>(std::clamp<int64_t>(stepped, INT32_MIN, INT32_MAX)));
}

QSize TSpinEdit::sizeHint() const
{
    // Room for the longer end of the range, and never less than a few digits.
    constexpr qsizetype MinimumDigits = 4;
    ensurePolished();
    const qsizetype digits =
        std::max({QString::number(FMinValue).size(), QString::number(FMaxValue).size(), MinimumDigits});
    const int textWidth = fontMetrics().horizontalAdvance(QString(digits, u'0'));
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const QSize content(textWidth + 2, lineEdit()->sizeHint().height());
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, content, this);
}

QSize TSpinEdit::minimumSizeHint() const
{
    return sizeHint();
}

QValidator::State TSpinEdit::validate(QString& input, int&) const
{
    // A minus sign only where the range admits negative numbers (0..0 limits nothing).
    const bool signAllowed = FMinValue < 0 || FMinValue == FMaxValue;
    const qsizetype digitsFrom = signAllowed && input.startsWith(u'-') ? 1 : 0;
    for (qsizetype i = digitsFrom; i < input.size(); ++i)
        if (input.at(i) < u'0' || input.at(i) > u'9')
            return QValidator::Invalid;
    return QValidator::Acceptable;
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
    return StepUpEnabled | StepDownEnabled;
}

void TSpinEdit::focusOutEvent(QFocusEvent* event)
{
    QAbstractSpinBox::focusOutEvent(event);
    // Another window or a popup taking the focus (a message about this very text, say) does not
    // leave the field: the operator's text must stay as typed until the focus moves on.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return;
    // A number outside the range is put into it; any other text stays for the checks to report.
    if (const auto number = ParseIntegerText(Text().toStdString()); number && CheckValue(*number) != *number)
        SetValue(*number);
}

int32_t TSpinEdit::CheckValue(int32_t value) const
{
    if (FMinValue == FMaxValue)
        return value;
    return std::clamp(value, std::min(FMinValue, FMaxValue), std::max(FMinValue, FMaxValue));
}

TMaskEdit::TMaskEdit(QWidget* parent) : QLineEdit(parent)
{
    setInputMask(IPInputMask);
    AnnouncedText = displayText();
    // The mask reports keys it rejected as text changes too; only a text that differs is an edit.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (displayText() == AnnouncedText)
            return;
        AnnouncedText = displayText();
        emit Changed();
    });
}

QString TMaskEdit::Text() const
{
    return displayText();
}

void TMaskEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    // Entered by keyboard, the whole address is selected so that typing replaces it, as desktop
    // address fields do; a masked edit would otherwise put the caret before the old digits, and
    // typing over them keeps those the new address is too short to reach. A click keeps its caret.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
        selectAll();
}

void TMaskEdit::keyPressEvent(QKeyEvent* event)
{
    // A dot after digits ends the number being typed: what an earlier address still has after the
    // cursor in this field goes, so that 10.0.0.1 typed over 192.168.127.1 reads 10.0.0.1, not
    // 102.068.027.1. A dot at the start of a field only moves on and keeps the field.
    if (event->text() == QStringLiteral(".") && !hasSelectedText()) {
        const QString shown = displayText();
        const int from = cursorPosition();
        const int dot = shown.indexOf(u'.', from);
        if (from > 0 && shown.at(from - 1) != u'.' && dot > from) {
            setSelection(from, dot - from);
            del();
        }
    }
    QLineEdit::keyPressEvent(event);
}
