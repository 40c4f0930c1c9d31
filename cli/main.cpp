#include <QCoreApplication>
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    QCoreApplication app(argc, argv);
    return wp::cli::RunCommandLine(words);
}
