#pragma once
// What each module of a write or apply is to hold: the file's keys, then the values given for every
// module (--set), then the module's own values from its line of the hosts file; and the rule that a
// value shared by several modules never becomes each one's own address or port.

#include "ConfigFields.h"
#include "ConfigFileCheck.h"
#include "ModuleAddress.h"

#include <string>
#include <vector>

struct TFieldValue {
    const TConfigField* Field = nullptr;
    TModuleConfig Holder{};  // the value, checked, in its place in a record
};

// "SECTION/KEY=VALUE" (names in any case, as the INI reader takes them) put through the checks a
// file's key goes through; where names its source in the messages.
bool ParseFieldValue(const std::string& text, const std::string& where, TFieldValue& value, std::string& error);

// base with the fields the file holds taken from it, then the values, a later one winning.
TModuleConfig WantedConfig(TModuleConfig base, const TCheckedConfig& file, const std::vector<TFieldValue>& values);

// The identity fields that a run over several modules would give every one of them alike: held by
// the file or set for all, and not given by each module's own values. Empty for a single module.
std::vector<const TConfigField*> SharedIdentityFields(const std::vector<const TConfigField*>& fromFile,
                                                      const std::vector<TFieldValue>& forAll,
                                                      const std::vector<std::vector<TFieldValue>>& perModule);

// The hosts lines that would have one module hold two values of a field (a module named twice with
// different values) or two modules one address (IP/ADDRESS), named with their lines; empty when
// none. A value that does not parse is left to ParseFieldValue's own message.
std::string ConflictingHostValues(const std::vector<TModuleAddress>& modules);
