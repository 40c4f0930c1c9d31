#include "cli/arguments.h"

namespace wp::cli {

std::optional<std::string> ParsedArguments::Value(std::string_view name) const {
    auto it = values.find(name);
    if (it == values.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::string ParseArguments(std::span<const std::string> words, std::span<const OptionSpec> options,
                           ParsedArguments& out) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word == "-" || !word.starts_with("-")) {
            out.positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string_view name = word;
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); eq != std::string_view::npos && name.starts_with("--")) {
            inlineValue = std::string(name.substr(eq + 1));
            name = name.substr(0, eq);
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& option : options) {
            if (option.name == name) {
                spec = &option;
            }
        }
        if (spec == nullptr) {
            return "不明なオプションです: " + std::string(name);
        }
        if (out.Has(name)) {
            return std::string(name) + " が二度指定されています";
        }
        if (!spec->takesValue) {
            if (inlineValue) {
                return std::string(name) + " は値を取りません";
            }
            out.flags.emplace(name);
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= words.size()) {
                return std::string(name) + " には値が必要です";
            }
            inlineValue = words[++i];
        }
        out.values.emplace(std::string(name), std::move(*inlineValue));
    }
    return {};
}

}  // namespace wp::cli
