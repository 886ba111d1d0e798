#pragma once
// The base of the program's modal windows: a fixed dialog border, the forms' font, and keys seen by
// the window before its controls (key preview), so Enter, Esc and F1 act wherever the focus is.

#include <QDialog>

#include <functional>

class QAbstractButton;

// Opens a page of the help folder by its file name; the main window provides it.
using TShowHelpTopic = std::function<void(const QString& topic)>;

constexpr char16_t KeyEnter = 13;
constexpr char16_t KeyEscape = 27;

// "Arial Narrow", 15 pixels high; where the face is missing Qt substitutes the nearest one.
void SetFormFont(QWidget* form);

// The top-left corner for a window of the given size that wants to stand at wanted: moved in just
// enough to lie wholly within area, and at area's top-left corner when area is smaller than it.
QPoint PlaceWithin(const QRect& area, QPoint wanted, QSize size);

class TForm : public QDialog {
    Q_OBJECT

public:
    explicit TForm(QWidget* parent = nullptr);

protected:
    // Called for every key pressed in the window before the focused control sees it.
    // Each answers true when it consumed the key. F1, whatever the modifiers, asks for the
    // window's help topic when it has one.
    virtual bool FormKeyDown(int key, Qt::KeyboardModifiers shift);
    virtual bool FormKeyPress(QChar key);

    void SetHelpTopic(TShowHelpTopic showHelpTopic, const QString& topic);

    // Call once the form's controls are built: fixes the window at its laid-out size.
    void FixSize();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TShowHelpTopic ShowHelpTopic;
    QString HelpTopic;
};

// A dialog that edits values and hands them back only when the operator confirms: Ok and Enter
// check the input first and keep the window open when a value is bad; Cancel, Esc and the
// title-bar close check nothing.
class TEditForm : public TForm {
    Q_OBJECT

public:
    explicit TEditForm(QWidget* parent = nullptr);

    // Shows its own message for the first bad value.
    virtual bool ValidateInput() = 0;

    bool Accepted = false;

public slots:
    void Button1Click();
    void Button2Click();

protected:
    // Binds the Ok and Cancel buttons of the built form.
    void BindButtons(QAbstractButton* ok, QAbstractButton* cancel);
    bool FormKeyPress(QChar key) override;
};
