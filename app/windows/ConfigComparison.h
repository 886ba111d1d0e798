#pragma once
// How two configuration records differ, in the window's terms: field by field for the comparison
// window, and line by line for the report of a write the module did not keep.

#include "ModuleConfig.h"

#include <QString>
#include <QStringList>

#include <vector>

struct TFieldComparison {
    QString Label;  // the page and the control's label, e.g. "RS-485 Канал 1, Скорость"
    QString Ours;
    QString Theirs;
    bool Differs = false;
};

// Every field the operator edits, in the window's order.
std::vector<TFieldComparison> CompareConfigs(const TModuleConfig& ours, const TModuleConfig& theirs);

// True when the 110 bytes before the checksum and the checksum are the same.
bool SameConfigBlock(const TModuleConfig& a, const TModuleConfig& b);

// One line "label: sent → held" for every differing field, then for differing reserved bytes and
// the checksum, which no field shows.
QStringList ConfigDifferenceLines(const TModuleConfig& sent, const TModuleConfig& held);
