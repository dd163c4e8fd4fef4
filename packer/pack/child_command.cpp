// child_command.cpp: checks the fixed arguments and environment a build gives its main program.
#include "pack/child_command.h"

#include "argument_quoting.h"
#include "build_constants.h"
#include "base/error.h"
#include "base/text.h"
#include "environment_name.h"

namespace zobrel {
namespace {

// The shortest full path a launcher can have: "C:\a".
const size_t SHORTEST_LAUNCHER_PATH = 4;

std::u16string checked_text(const char *option, const std::string &given, const std::string &text)
{
    std::u16string units;
    if (!utf8_to_utf16(text, units))
        throw UsageError(std::string("option ") + option + " '" + given + "': not valid UTF-8 text");
    std::string why = spec_problem(units, nullptr, SpecUse::command);
    if (!why.empty()) throw UsageError(std::string("option ") + option + " '" + given + "': " + why);
    return units;
}

std::u16string ascii_upper(std::u16string text)
{
    for (char16_t &c : text) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return text;
}

}  // namespace

ProgressDisplay parse_progress(bool shown, const std::string &message)
{
    ProgressDisplay progress;
    progress.shown = shown;
    if (message.empty()) return progress;
    if (!shown) throw UsageError("option --progress-message: needs --progress");
    progress.message = checked_text("--progress-message", message, message);
    if (progress.message.size() > PROGRESS_MESSAGE_LIMIT) {
        throw UsageError("option --progress-message '" + message + "': longer than " +
                         std::to_string(PROGRESS_MESSAGE_LIMIT) + " characters (UTF-16 units)");
    }
    return progress;
}

ChildCommand parse_child_command(const std::vector<std::string> &arguments,
                                 const std::vector<std::string> &environment)
{
    ChildCommand command;
    for (const std::string &argument : arguments) {
        command.arguments.push_back(checked_text("--arg", argument, argument));
    }
    std::vector<std::u16string> seen;
    for (const std::string &variable : environment) {
        const size_t equals = variable.find('=');
        if (equals == std::string::npos) {
            throw UsageError("option --env '" + variable +
                             "': give NAME=VALUE (an empty VALUE removes the variable)");
        }
        std::u16string name;
        if (!utf8_to_utf16(variable.substr(0, equals), name))
            throw UsageError("option --env '" + variable + "': the name is not valid UTF-8 text");
        if (const char *why = environment_name_problem(name.data(), name.size())) {
            throw UsageError("option --env '" + variable + "': " + why + " " + ENVIRONMENT_NAME_RULE);
        }
        for (const std::u16string &other : seen) {
            if (other == ascii_upper(name)) {
                throw UsageError("option --env '" + variable + "': the variable " +
                                 variable.substr(0, equals) +
                                 " is given twice (Windows does not tell names apart by letter case)");
            }
        }
        seen.push_back(ascii_upper(name));
        command.environment.push_back({name, checked_text("--env", variable, variable.substr(equals + 1))});
    }
    return command;
}

void check_child_command_fits(const ChildCommand &command, const ProductValues &values,
                              const std::u16string &target_spec)
{
    size_t line = SHORTEST_LAUNCHER_PATH;
    for (const std::u16string &argument : command.arguments) {
        // At its shortest an argument is written as it is, or "" when empty.
        const size_t shortest = shortest_expansion(argument, values, target_spec);
        line += 1 + (shortest == 0 ? 2 : shortest);
    }
    if (line > COMMAND_LINE_LIMIT) {
        throw UsageError("option --arg: the fixed arguments would take at least " + std::to_string(line) +
                         " characters of the command line with the launcher's path, more than the " +
                         std::to_string(COMMAND_LINE_LIMIT) + " a Windows command line holds");
    }
    for (const EnvironmentEntry &variable : command.environment) {
        const size_t shortest = shortest_expansion(variable.value, values, target_spec);
        if (shortest > ENVIRONMENT_VALUE_LIMIT) {
            std::string name;
            utf16_to_utf8(variable.name, name);
            throw UsageError("option --env: the value of " + name + " would be at least " +
                             std::to_string(shortest) + " characters long, more than the " +
                             std::to_string(ENVIRONMENT_VALUE_LIMIT) +
                             " a Windows environment variable holds");
        }
    }
}

}  // namespace zobrel
