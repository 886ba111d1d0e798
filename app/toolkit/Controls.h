#pragma once
// The program's edit controls: a spin edit whose text may hold anything until the field is left,
// and the masked edit for IPv4 addresses whose text keeps its blanks for the checks to judge.
// Both announce every change of their text through Changed(). Forms use them as promoted widgets.

#include <QAbstractSpinBox>
#include <QLineEdit>

#include <cstdint>

class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
    Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
    Q_PROPERTY(int MaxLength READ MaxLength WRITE SetMaxLength)
    Q_PROPERTY(int Value READ Value WRITE SetValue)

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int32_t MinValue() const { return FMinValue; }
    int32_t MaxValue() const { return FMaxValue; }
    void SetMinValue(int32_t value) { FMinValue = value; }
    void SetMaxValue(int32_t value) { FMaxValue = value; }
    int MaxLength() const;
    void SetMaxLength(int length);

    // The number the text holds, or MinValue when it holds none.
    int32_t Value() const;
    // Shows value, put into the range when the range's ends differ.
    void SetValue(int32_t value);

    // The text exactly as it stands, for the checks and their messages.
    QString Text() const;
    void SetText(const QString& text);

    // The checks judge the text, not Value(), against the range the control has when they run.
    bool IsTextInRange() const;
    // The range as the messages quote it: "min..max".
    QString RangeText() const;

    void stepBy(int steps) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void Changed();

protected:
    // Keys that cannot be part of a number are refused as they are typed or pasted.
    QValidator::State validate(QString& input, int& pos) const override;
    StepEnabled stepEnabled() const override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int32_t CheckValue(int32_t value) const;

    int32_t FMinValue = 0;
    int32_t FMaxValue = 0;
};

// The check of a spin edit's text before its value is used: when the text is out of range, the
// message is shown with the range in place of %1 and the answer is false.
bool CheckTextInRange(const TSpinEdit& edit, const QString& message);

// An IPv4 address edit: four fields of up to three digits between fixed dots.
class TMaskEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TMaskEdit(QWidget* parent = nullptr);

    // The text with its dots and a space for every unfilled digit position ("10 .0  .0  .1  ").
    // setText() fits each number of a dotted text into its field.
    QString Text() const;

signals:
    void Changed();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString AnnouncedText;
};
