#include "FleetValues.h"

#include <QString>

#include <algorithm>

namespace {

bool SameName(const std::string& a, const std::string& b)
{
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

const TConfigField* FieldNamed(const std::string& section, const std::string& key)
{
    for (const TConfigField& field : ConfigFields())
        if (SameName(field.Section, section) && SameName(field.Key, key))
            return &field;
    return nullptr;
}

void CopyField(const TModuleConfig& from, TModuleConfig& to, const TConfigField& field)
{
    if (field.Format == TFieldFormat::Address)
        SetFieldAddress(to, field, FieldAddress(from, field));
    else
        SetFieldWord(to, field, FieldWord(from, field));
}

bool Gives(const std::vector<TFieldValue>& values, const TConfigField* field)
{
    return std::any_of(values.begin(), values.end(), [field](const TFieldValue& v) { return v.Field == field; });
}

}  // namespace

bool ParseFieldValue(const std::string& text, const std::string& where, TFieldValue& value, std::string& error)
{
    const size_t equals = text.find('=');
    const size_t slash = text.find('/');
    // A line break would let the value write keys of its own into the text it is checked in.
    if (equals == std::string::npos || slash == std::string::npos || slash > equals ||
        text.find_first_of("\r\n") != std::string::npos) {
        error = "неверное значение " + text + " " + where + ": ожидается РАЗДЕЛ/КЛЮЧ=ЗНАЧЕНИЕ";
        return false;
    }
    const TConfigField* field = FieldNamed(text.substr(0, slash), text.substr(slash + 1, equals - slash - 1));
    if (!field) {
        error = "неизвестный ключ " + text.substr(0, equals) + " " + where;
        return false;
    }
    TCheckedConfig checked;
    if (CheckConfigText("[" + field->Section + "]\r\n" + field->Key + "=" + text.substr(equals + 1) + "\r\n", where,
                        checked, error) != TConfigFileState::Ok)
        return false;
    value = {field, checked.Config};
    return true;
}

TModuleConfig WantedConfig(TModuleConfig base, const TCheckedConfig& file, const std::vector<TFieldValue>& values)
{
    for (const TConfigField* field : file.Held)
        CopyField(file.Config, base, *field);
    for (const TFieldValue& value : values)
        CopyField(value.Holder, base, *value.Field);
    return base;
}

std::vector<const TConfigField*> SharedIdentityFields(const std::vector<const TConfigField*>& fromFile,
                                                      const std::vector<TFieldValue>& forAll,
                                                      const std::vector<std::vector<TFieldValue>>& perModule)
{
    std::vector<const TConfigField*> shared;
    if (perModule.size() < 2)
        return shared;
    for (const TConfigField& field : ConfigFields()) {
        if (!field.Identity)
            continue;
        const bool given =
            std::find(fromFile.begin(), fromFile.end(), &field) != fromFile.end() || Gives(forAll, &field);
        const bool eachOwn = std::all_of(perModule.begin(), perModule.end(),
                                         [&field](const std::vector<TFieldValue>& own) { return Gives(own, &field); });
        if (given && !eachOwn)
            shared.push_back(&field);
    }
    return shared;
}

std::string ConflictingHostValues(const std::vector<TModuleAddress>& modules)
{
    const TConfigField* address = FindConfigField("IP", "ADDRESS");
    struct TGiven {
        const TModuleAddress* Module;
        TFieldValue Value;
    };
    std::vector<TGiven> given;
    const auto place = [](const TModuleAddress& module) {
        return (module.Origin.empty() ? std::string("HOST") : module.Origin) + " (" + module.Text() + ")";
    };
    for (const TModuleAddress& module : modules)
        for (const std::string& text : module.Values) {
            TFieldValue value;
            std::string error;
            if (!ParseFieldValue(text, {}, value, error))
                continue;
            const TConfigField& field = *value.Field;
            const std::string name = field.Section + "/" + field.Key;
            for (const TGiven& earlier : given) {
                if (earlier.Value.Field != &field)
                    continue;
                const bool equal = FieldEquals(earlier.Value.Holder, value.Holder, field);
                if (earlier.Module->Text() == module.Text() && !equal)
                    return "модулю " + module.Text() + " даны разные значения " + name + ": " + earlier.Module->Origin +
                           " и " + module.Origin;
                if (earlier.Module->Text() != module.Text() && equal && &field == address)
                    return "двум модулям дан один адрес " + name + "=" + FieldIniText(value.Holder, field) + ": " +
                           place(*earlier.Module) + " и " + place(module);
            }
            given.push_back({&module, value});
        }
    return {};
}
