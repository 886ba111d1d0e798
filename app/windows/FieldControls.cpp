#include "FieldControls.h"

#include "Controls.h"
#include "IPAddressText.h"

#include <QComboBox>
#include <QVariant>
#include <QWidget>

namespace {

QWidget* Control(const QWidget* page, const TConfigField& field)
{
    return page->findChild<QWidget*>(QString::fromStdString(field.Control));
}

}  // namespace

void ShowField(QWidget* page, const TConfigField& field, const TModuleConfig& config)
{
    QWidget* control = Control(page, field);
    if (auto* address = qobject_cast<TMaskEdit*>(control))
        address->setText(QString::fromStdString(IPToStr(FieldAddress(config, field))));
    else if (auto* number = qobject_cast<TSpinEdit*>(control))
        number->SetValue(FieldWord(config, field));
    else if (auto* list = qobject_cast<QComboBox*>(control)) {
        const int index = FieldWord(config, field);
        list->setCurrentIndex(index < list->count() ? index : 0);
    } else
        page->setProperty(field.Control.c_str(), int(FieldWord(config, field)));
}

bool CollectField(const QWidget* page, const TConfigField& field, TModuleConfig& config, QString& message)
{
    const QWidget* control = Control(page, field);
    if (const auto* address = qobject_cast<const TMaskEdit*>(control)) {
        const QString text = address->Text();
        TIPAddress value{};
        if (!StrToIP(text.toStdString(), value)) {
            message = QString::fromStdString(FieldCheckMessage(field, text.toStdString()));
            return false;
        }
        SetFieldAddress(config, field, value);
    } else if (const auto* number = qobject_cast<const TSpinEdit*>(control)) {
        if (!number->IsTextInRange()) {
            message = QString::fromStdString(FieldCheckMessage(field, number->Text().toStdString()));
            return false;
        }
        SetFieldWord(config, field, uint16_t(number->Value()));
    } else if (const auto* list = qobject_cast<const QComboBox*>(control))
        SetFieldWord(config, field, uint16_t(list->currentIndex()));
    else
        SetFieldWord(config, field, uint16_t(page->property(field.Control.c_str()).toInt()));
    return true;
}

QString FieldText(const QWidget* page, const TConfigField& field)
{
    const QWidget* control = Control(page, field);
    if (const auto* address = qobject_cast<const TMaskEdit*>(control))
        return address->Text();
    if (const auto* number = qobject_cast<const TSpinEdit*>(control))
        return number->Text();
    return {};
}

void ShowFieldText(QWidget* page, const TConfigField& field, const QString& text)
{
    QWidget* control = Control(page, field);
    if (auto* address = qobject_cast<TMaskEdit*>(control))
        address->setText(text);
    else if (auto* number = qobject_cast<TSpinEdit*>(control))
        number->SetText(text);
}
