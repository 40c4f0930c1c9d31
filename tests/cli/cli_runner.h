#pragma once
// Runs the real wrenpost-cli as a child process, with a data folder and a
// profile of the test's own, and collects what it wrote.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/string_table.h"
#include "platform/test_folder.h"
#include "platform/text.h"

namespace wp::test {

struct CliResult {
    int status = -1;  // -1: it did not end normally
    std::string out;
    std::string err;
};

class CliRunner {
public:
    // "--data-dir" and this folder go first on every command line.
    std::string DataDir() const { return folder_.Sub("data"); }
    std::string MailFolder() const { return DataDir() + "/Mail"; }
    std::string ConfigDir() const { return folder_.Sub("config"); }
    // A file in the test's folder (outside the data folder).
    std::string File(const std::string& name) const { return folder_.Sub(name); }

    // Starts the program; for tests that act while it runs.
    // Without the data folder's option it runs in workingDir (when given).
    std::unique_ptr<QProcess> Start(const std::vector<std::string>& args, bool withDataDir = true,
                                    const std::string& workingDir = {}) const {
        auto process = std::make_unique<QProcess>();
        if (!workingDir.empty()) {
            process->setWorkingDirectory(QString::fromStdString(workingDir));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(ConfigDir()));
        for (const auto& [name, value] : environment) {
            env.insert(QString::fromStdString(name), QString::fromStdString(value));
        }
        process->setProcessEnvironment(env);
        QStringList list;
        if (withDataDir) {
            list << "--data-dir" << QString::fromStdString(DataDir());
        }
        for (const std::string& arg : args) {
            list << QString::fromUtf8(arg.data(), static_cast<qsizetype>(arg.size()));
        }
        process->start(WRENPOST_CLI, list);
        EXPECT_TRUE(process->waitForStarted(30000)) << "wrenpost-cli did not start";
        return process;
    }

    // Waits (bounded) for the program to end.
    static CliResult Finish(QProcess& process, std::chrono::milliseconds bound = std::chrono::minutes(2)) {
        CliResult result;
        if (!process.waitForFinished(static_cast<int>(bound.count()))) {
            ADD_FAILURE() << "wrenpost-cli did not end";
            process.kill();
            process.waitForFinished(30000);
        } else if (process.exitStatus() == QProcess::NormalExit) {
            result.status = process.exitCode();
        }
        result.out = process.readAllStandardOutput().toStdString();
        result.err = process.readAllStandardError().toStdString();
        return result;
    }

    // Variables set for every run besides XDG_CONFIG_HOME.
    std::vector<std::pair<std::string, std::string>> environment;

    CliResult Run(const std::vector<std::string>& args, bool withDataDir = true,
                  const std::string& workingDir = {}) const {
        auto process = Start(args, withDataDir, workingDir);
        return Finish(*process);
    }

private:
    TestFolder folder_;
};

// A system text as the program prints it (UTF-8), "%s" filled in.
inline std::string SystemText(int id, const std::string& server = {}) {
    std::string text = Cp932ToUtf8(LoadString(id));
    if (auto at = text.find("%s"); at != std::string::npos) {
        text.replace(at, 2, server);
    }
    return text;
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace wp::test
