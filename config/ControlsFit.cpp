#include "ControlsFit.h"

#include <algorithm>

TControlsFit FitToControls(const TModuleConfig& shown)
{
    TControlsFit fit;
    fit.Collected = shown;
    for (const TConfigField& field : ConfigFields()) {
        if (field.Format == TFieldFormat::Address)
            continue;  // an address always shows and reads back as itself
        const int32_t value = FieldWord(shown, field);
        switch (field.Fit) {
        case TFieldFit::None: break;
        case TFieldFit::Clamp:
            SetFieldWord(fit.Collected, field, uint16_t(std::clamp(value, field.Min, field.Max)));
            break;
        case TFieldFit::List:
            if (value < field.Min || value > field.Max)
                SetFieldWord(fit.Collected, field, 0);
            break;
        case TFieldFit::Check:
            if ((value < field.Min || value > field.Max) && !fit.Refused) {
                fit.Refused = &field;
                fit.Message = FieldCheckMessage(field, std::to_string(value));
            }
            break;
        }
    }
    return fit;
}
