#include "CliOptions.h"

#include "CliCommandTable.h"

#include <set>

namespace {

// Things like "-" (a standard stream) are operands, not options, and so are negative values for set
// ("-5", "-.5", "-inf"): no option starts with a digit, a point or "inf".
bool IsOption(const std::string& argument)
{
    if (argument.size() < 2 || argument[0] != '-')
        return false;
    const char next = argument[1];
    return !(next >= '0' && next <= '9') && next != '.' && argument != "-inf" && argument != "-INF";
}

}  // namespace

std::string HelpPointer(const std::string& command)
{
    return FindCommand(command) ? "Справка: korvel-cli help " + command : "Справка: korvel-cli --help";
}

bool ParseCommandLine(const std::vector<std::string>& arguments, TCliOptions& options, std::string& error)
{
    // The spelling each option was given in, for a refusal that quotes it.
    std::vector<std::pair<const TCliOptionSpec*, std::string>> given;
    std::set<std::string> seen;
    // After "--" every argument is an operand, one that starts with "-" too ("set … -- -123456").
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--" && !optionsEnded) {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || !IsOption(argument)) {
            if (options.Command.empty())
                options.Command = argument;
            else
                options.Operands.push_back(argument);
            continue;
        }
        // "--name=value" is "--name value".
        const size_t equals = argument.starts_with("--") ? argument.find('=') : std::string::npos;
        const std::string name = argument.substr(0, equals);
        const TCliOptionSpec* option = FindOption(name);
        if (!option) {
            error = "неизвестный параметр " + name;
            return false;
        }
        std::string value;
        if (equals != std::string::npos) {
            if (option->Value.empty()) {
                error = "параметр " + name + " не принимает значения";
                return false;
            }
            value = argument.substr(equals + 1);
        } else if (!option->Value.empty()) {
            if (i + 1 >= arguments.size()) {
                error = "параметру " + argument + " нужно значение";
                return false;
            }
            value = arguments[++i];
        }
        // A second value would silently win over the first.
        if (!option->Repeatable && !seen.insert(option->Name).second) {
            error = "параметр " + option->Name + " задан дважды";
            return false;
        }
        if (!option->Apply(value, options, error))
            return false;
        given.emplace_back(option, name);
    }
    if (options.Version)
        return true;
    // Both would be asked for, and one of them not given.
    if (options.Json && options.Device.Csv) {
        error = "параметры --json и --csv исключают друг друга";
        return false;
    }
    if (options.Command == "help") {
        options.Help = true;
        options.Command = options.Operands.empty() ? std::string() : options.Operands.front();
        if (options.Operands.size() > 1) {
            error = "help ожидает одну команду";
            return false;
        }
    }
    if (options.Help && options.Json) {
        error = "справка выводится только текстом: параметр --json к ней не применим";
        return false;
    }
    if (options.Command.empty()) {
        if (options.Help)
            return true;
        error = "не задана команда";
        return false;
    }
    const TCliCommandSpec* command = FindCommand(options.Command);
    if (!command || (command->Name == "help" && !options.Help)) {
        error = "неизвестная команда " + options.Command;
        return false;
    }
    if (options.Help)
        return true;
    for (const auto& [option, spelling] : given)
        if (!CommandTakes(*command, *option)) {
            error = "параметр " + spelling + " не применим к команде " + command->Name;
            return false;
        }
    return true;
}
