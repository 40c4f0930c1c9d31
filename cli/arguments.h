#pragma once
// The words of one command line after its command name: options (long ones
// only, "--name VALUE" or "--name=VALUE"), flags and positional arguments in
// any order; "--" ends the options.

#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace wp::cli {

struct OptionSpec {
    std::string_view name;  // with its dashes: "--to"
    bool takesValue = false;
};

struct ParsedArguments {
    std::map<std::string, std::string, std::less<>> values;
    std::set<std::string, std::less<>> flags;
    std::vector<std::string> positionals;

    bool Has(std::string_view name) const { return flags.contains(name) || values.contains(name); }
    std::optional<std::string> Value(std::string_view name) const;
};

// Why the words do not fit the options (UTF-8 text for the user); empty when
// they do.
std::string ParseArguments(std::span<const std::string> words, std::span<const OptionSpec> options,
                           ParsedArguments& out);

}  // namespace wp::cli
