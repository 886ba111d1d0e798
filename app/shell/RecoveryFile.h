#pragma once
// Unsaved edits kept when a termination signal ends the program: a configuration file of the usual
// form in the user's state folder, named by the time it was written, which the next start offers
// to open. A control whose text is not a value the record takes keeps that text beside the record,
// so that what the operator typed survives even when it could not be collected.

#include "ConfigFields.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>
#include <string>

struct TRecovery {
    TModuleConfig Config{};
    // The texts of the controls that held no value, by the section and key of their field
    // ("CHANNEL_0.TIMEOUT").
    std::map<std::string, QString> Typed;
    // The file the edits were made to; empty for a configuration that had none.
    QString FileName;
};

// The key under which a field's text is kept.
std::string TypedTextKey(const TConfigField& field);

// $XDG_STATE_HOME/KorvelService, or ~/.local/state/KorvelService without it.
QString RecoveryFolderLocation();

// Writes the edits into a new file of the folder, which is made when missing; an existing file is
// never replaced. Answers the file's name, or an empty name with the reason in error.
QString WriteRecoveryFile(const QString& folder, const TRecovery& recovery, const QDateTime& time, QString& error);

// The recovery files in the folder, the newest first.
QStringList RecoveryFiles(const QString& folder);

// When the file was written, as its name tells it; invalid for a name of another form.
QDateTime RecoveryFileTime(const QString& fileName);

// False when the file cannot be read.
bool ReadRecoveryFile(const QString& fileName, TRecovery& recovery);
