#pragma once
// A field of the configuration table moved between the record and the control that edits it, found
// by the control's name on its page or channel frame; a field without a control is a property of
// the frame that holds it.

#include "ConfigFields.h"

#include <QString>

class QWidget;

// Shows the field's value in its control as the control takes it (a spin edit puts it into its
// range, a list selects its first entry for an index it lacks).
void ShowField(QWidget* page, const TConfigField& field, const TModuleConfig& config);

// Stores the control's value in the field; false, with the window's message and nothing stored,
// when the control's text is not a value the field takes.
bool CollectField(const QWidget* page, const TConfigField& field, TModuleConfig& config, QString& message);

// The text of the field's control as it stands, a value or not; empty for a field shown by a list
// or held by its frame, which always holds a value.
QString FieldText(const QWidget* page, const TConfigField& field);
// Puts such a text back into the field's control.
void ShowFieldText(QWidget* page, const TConfigField& field, const QString& text);
