#pragma once
// The vocabulary of korvel-cli: every command with its operands, its help and the options it takes,
// and every option with its value and the field of TCliOptions it sets. Help, the man page, the
// completion and the refusal of an option that means nothing for a command all follow this table.
//
// A new command: a row in CliCommands() naming the options it takes, and its run in CliCommands.cpp.
// A new option: a row in CliOptionTable() (its Apply stores the value), then its name in the rows of
// the commands it means something for.

#include "CliOptions.h"

#include <functional>
#include <string>
#include <vector>

struct TCliOptionSpec {
    std::string Name;   // "--port"
    std::string Short;  // "-o", or empty
    std::string Value;  // what the help calls its value ("N", "ФАЙЛ"); empty for a flag
    // May be given more than once: the values add up, or for a setting the last one counts (so a
    // wrapper's default can be overridden). Otherwise a second occurrence is refused as a conflict.
    bool Repeatable = false;
    std::string Help;
    // Stores the value (empty for a flag); false with a message for a value it cannot take.
    std::function<bool(const std::string& value, TCliOptions& options, std::string& error)> Apply;
};

struct TCliUsageLine {
    std::string Synopsis;  // "read HOST [-o ФАЙЛ.ini]"
    std::string Summary;
};

struct TCliCommandSpec {
    std::string Name;
    std::vector<TCliUsageLine> Usage;
    std::string Details;               // the paragraph of `korvel-cli help COMMAND`
    std::vector<std::string> Options;  // long names, beside those every command takes
};

// Options that mean the same for every command.
const std::vector<std::string>& CommonOptions();
const std::vector<TCliOptionSpec>& CliOptionTable();
const std::vector<TCliCommandSpec>& CliCommandTable();

const TCliOptionSpec* FindOption(const std::string& nameOrShort);
const TCliCommandSpec* FindCommand(const std::string& name);
bool CommandTakes(const TCliCommandSpec& command, const TCliOptionSpec& option);
