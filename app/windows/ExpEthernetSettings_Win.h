#pragma once
// The dialog "Дополнительные параметры": the two ModbusTCP times of a channel working as slave.

#include "Forms.h"
#include "ui_ExpEthernetSettings_Win.h"

#include <cstdint>

struct TExpEthernetValues {
    int32_t RecvTimeout;  // ModbusTCP time-out, ms
    int32_t ConnTimeout;  // connection-establishment time, ms
};

class TExpEthernetSettingsWindow : public TEditForm, public Ui::TExpEthernetSettingsWindow {
    Q_OBJECT

public:
    explicit TExpEthernetSettingsWindow(TShowHelpTopic showHelpTopic = {}, QWidget* parent = nullptr);

    bool ValidateInput() override;
};

// Runs the dialog on values; true when the operator confirmed, and only then are they replaced.
// F1 opens the dialog's help page through showHelpTopic.
bool EditExpEthernetSettings(TExpEthernetValues& values, const TShowHelpTopic& showHelpTopic = {});
