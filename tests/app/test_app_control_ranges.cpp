// The forms and the field table cannot drift apart: every spin edit of the TCP/IP page and of the
// channel frames applies exactly the range the table gives its field, every list holds exactly the
// table's entries, and no such control edits a field the table does not know.

#include "AppTestSupport.h"

#include "ConfigFields.h"

#include <QComboBox>

#include <set>
#include <string>

namespace {

class ControlRangesTest : public MainWindowFixture {
protected:
    // The page or channel frame that holds the field's control.
    QWidget* Holder(const TConfigField& field)
    {
        if (field.Channel < 0)
            return Window().findChild<QWidget*>("TabSheet3");
        return Frame(field.Channel);
    }
};

bool IsSpinEditField(const TConfigField& field)
{
    return field.Fit == TFieldFit::Clamp || field.Fit == TFieldFit::Check;
}

// Whether the control is one of the holder's own: a frame's controls are not its page's.
bool PartOf(const QWidget* control, const QWidget* holder)
{
    for (const QWidget* up = control->parentWidget(); up; up = up->parentWidget()) {
        if (up == holder)
            return true;
        if (qobject_cast<const TRS485SettingsFrame*>(up))
            return false;
    }
    return false;
}

std::string FieldName(const TConfigField& field)
{
    return "[" + field.Section + "] " + field.Key + " in " + field.Control;
}

TEST_F(ControlRangesTest, EverySpinEditAppliesItsFieldsRange)
{
    int checked = 0;
    for (const TConfigField& field : ConfigFields()) {
        if (!IsSpinEditField(field))
            continue;
        SCOPED_TRACE(FieldName(field));
        QWidget* holder = Holder(field);
        ASSERT_NE(holder, nullptr);
        const auto* edit = holder->findChild<TSpinEdit*>(QString::fromStdString(field.Control));
        ASSERT_NE(edit, nullptr) << "no such spin edit";
        EXPECT_EQ(edit->MinValue(), field.Min);
        EXPECT_EQ(edit->MaxValue(), field.Max);
        // Equal ends are what let the control show any value and the collection refuse it.
        EXPECT_EQ(field.Fit == TFieldFit::Check, field.Min == field.Max);
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST_F(ControlRangesTest, EveryListHoldsItsFieldsEntries)
{
    int checked = 0;
    for (const TConfigField& field : ConfigFields()) {
        if (field.Fit != TFieldFit::List)
            continue;
        SCOPED_TRACE(FieldName(field));
        QWidget* holder = Holder(field);
        ASSERT_NE(holder, nullptr);
        const auto* list = holder->findChild<QComboBox*>(QString::fromStdString(field.Control));
        ASSERT_NE(list, nullptr) << "no such list";
        EXPECT_EQ(field.Min, 0);
        EXPECT_EQ(list->count(), field.Max + 1);
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST_F(ControlRangesTest, EveryAddressFieldHasItsMaskEdit)
{
    for (const TConfigField& field : ConfigFields()) {
        if (field.Format != TFieldFormat::Address)
            continue;
        SCOPED_TRACE(FieldName(field));
        QWidget* holder = Holder(field);
        ASSERT_NE(holder, nullptr);
        EXPECT_NE(holder->findChild<TMaskEdit*>(QString::fromStdString(field.Control)), nullptr);
    }
}

TEST_F(ControlRangesTest, EverySpinEditAndListOfTheFormsEditsAFieldOfTheTable)
{
    std::set<std::pair<const QWidget*, std::string>> spinEdits, lists;
    for (const TConfigField& field : ConfigFields()) {
        if (IsSpinEditField(field))
            spinEdits.insert({Holder(field), field.Control});
        else if (field.Fit == TFieldFit::List)
            lists.insert({Holder(field), field.Control});
    }
    std::vector<QWidget*> holders{Window().findChild<QWidget*>("TabSheet3")};
    for (size_t n = 0; n < ChannelCount; ++n)
        holders.push_back(Frame(int(n)));
    for (QWidget* holder : holders) {
        ASSERT_NE(holder, nullptr);
        for (const QWidget* control : holder->findChildren<QWidget*>()) {
            if (!PartOf(control, holder))
                continue;
            const std::string name = control->objectName().toStdString();
            const std::string where = name + " in " + holder->objectName().toStdString();
            if (qobject_cast<const TSpinEdit*>(control)) {
                EXPECT_TRUE(spinEdits.count({holder, name})) << where << " is the spin edit of no field";
            } else if (qobject_cast<const QComboBox*>(control) && name != "ComboBox4") {
                // The mode list (ComboBox4) chooses the channel's role; it is no field of the record.
                EXPECT_TRUE(lists.count({holder, name})) << where << " is the list of no field";
            }
        }
    }
}

}  // namespace

// The role the table gives a field is the one in which the frame lets the operator edit it.
TEST_F(ControlRangesTest, EveryChannelControlIsEditableInItsFieldsRole)
{
    for (const int mode : {TRS485SettingsFrame::Master, TRS485SettingsFrame::Slave}) {
        for (size_t n = 0; n < ChannelCount; ++n)
            Frame(int(n))->SetMode(mode);
        for (const TConfigField& field : ConfigFields()) {
            const auto* control = Holder(field)->findChild<QWidget*>(QString::fromStdString(field.Control));
            if (field.Channel < 0 || !control)
                continue;  // the TCP/IP page has no roles; a held time has no control
            SCOPED_TRACE(FieldName(field) + (mode == TRS485SettingsFrame::Master ? ", master" : ", slave"));
            const bool editable = field.Role == TFieldRole::Always ||
                                  (field.Role == TFieldRole::Master) == (mode == TRS485SettingsFrame::Master);
            EXPECT_EQ(control->isEnabledTo(Frame(field.Channel)), editable);
        }
    }
}
