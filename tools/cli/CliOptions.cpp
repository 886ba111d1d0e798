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
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!IsOption(argument)) {
            if (options.Command.empty())
                options.Command = argument;
            else
                options.Operands.push_back(argument);
            continue;
        }
        const TCliOptionSpec* option = FindOption(argument);
        if (!option) {
            error = "неизвестный параметр " + argument;
            return false;
        }
        std::string value;
        if (!option->Value.empty()) {
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
        given.emplace_back(option, argument);
    }
    if (options.Version)
        return true;
    if (options.Command == "help") {
        options.Help = true;
        options.Command = options.Operands.empty() ? std::string() : options.Operands.front();
        if (options.Operands.size() > 1) {
            error = "help ожидает одну команду";
            return false;
        }
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
