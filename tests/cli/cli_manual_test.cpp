// The manual page of wrenpost-cli keeps up with the program: every command
// has its section there and every option is described.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/commands.h"

namespace wp {
namespace {

#ifdef WRENPOST_CLI_MANUAL

// The page's text with troff's escaped dashes made plain.
std::string Manual() {
    std::ifstream file(WRENPOST_CLI_MANUAL);
    std::stringstream text;
    text << file.rdbuf();
    return std::regex_replace(text.str(), std::regex(R"(\\-)"), "-");
}

// A command's section: from its .SS line to the next heading.
std::string Section(const std::string& manual, const std::string& command) {
    const std::string quoted = command.find(' ') != std::string::npos ? "\"" + command + "\"" : command;
    const std::string heading = "\n.SS " + quoted + "\n";
    const std::size_t start = manual.find(heading);
    if (start == std::string::npos) {
        return {};
    }
    std::size_t end = manual.find("\n.S", start + heading.size());
    return manual.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TEST(CliManual, DescribesEveryCommandAndItsOptions) {
    const std::string manual = Manual();
    ASSERT_FALSE(manual.empty()) << WRENPOST_CLI_MANUAL;
    for (const cli::CommandSpec& command : cli::Commands()) {
        const std::string name = command.group.empty()
                                     ? std::string(command.name)
                                     : std::string(command.group) + " " + std::string(command.name);
        const std::string section = Section(manual, name);
        EXPECT_FALSE(section.empty()) << "no .SS section for \"" << name << "\"";
        for (const cli::OptionSpec& option : command.options) {
            EXPECT_NE(section.find(std::string(option.name)), std::string::npos)
                << name << ": " << option.name << " is not described";
        }
    }
}

TEST(CliManual, NamesEveryOptionOfTheUsageText) {
    const std::string manual = Manual();
    const std::string usage = cli::UsageText();
    std::set<std::string> options;
    const std::regex option(R"(--[a-z][a-z-]*)");
    for (auto it = std::sregex_iterator(usage.begin(), usage.end(), option); it != std::sregex_iterator();
         ++it) {
        options.insert(it->str());
    }
    EXPECT_TRUE(options.contains("--data-dir"));
    for (const std::string& name : options) {
        EXPECT_NE(manual.find(name), std::string::npos) << name << " is not in the manual";
    }
}

#else

TEST(CliManual, DescribesEveryCommandAndItsOptions) {
    GTEST_SKIP() << "built without the packaging folder";
}

#endif

}  // namespace
}  // namespace wp
