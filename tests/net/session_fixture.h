#pragma once
// A session wired to a recording main window and recording cache hooks.

#include "net/pop3_session.h"
#include "platform/messages.h"
#include "support/wait_for.h"

#include <QCoreApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace wp::test {

class RecordingWindow : public MessageHandler {
public:
    LResult HandleMessage(std::uint32_t msg, WParam wParam, LParam lParam) override {
        messages.emplace_back(msg, wParam);
        if (msg == UM_OPERATIONDONE) {
            doneTags.push_back(lParam);
        }
        return 0;
    }
    // Status ids posted so far, in order.
    std::vector<int> Statuses() const {
        std::vector<int> ids;
        for (const auto& [msg, w] : messages) {
            if (msg == UM_STATUSTEXT) {
                ids.push_back(static_cast<int>(w));
            }
        }
        return ids;
    }
    int Count(std::uint32_t msg, WParam w) const {
        int n = 0;
        for (const auto& m : messages) {
            n += (m.first == msg && m.second == w) ? 1 : 0;
        }
        return n;
    }
    std::vector<std::pair<std::uint32_t, WParam>> messages;
    std::vector<LParam> doneTags;
};

class RecordingHost : public SessionHost {
public:
    std::string ResponseFilePath() override { return responsePath; }
    void AppendCapture(const char* data, std::size_t length) override { capture.append(data, length); }
    void ProgressAddBytes(int count) override {
        progressBytes += count;
        ++chunks;
        if (onChunk) {
            onChunk();
        }
    }
    void ClearViewerText() override {
        viewer.clear();
        ++viewerClears;
    }
    void AppendViewerText(const char* data, std::size_t length, int bytesReceived) override {
        viewer.append(data, length);
        viewerBytes = bytesReceived;
    }

    std::string responsePath;
    std::string capture;
    int progressBytes = 0;
    int chunks = 0;
    std::string viewer;
    int viewerClears = 0;
    int viewerBytes = 0;
    std::function<void()> onChunk;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline std::string TempPath(const std::string& name) {
    const char* base = std::getenv("WRENPOST_TEST_TMP");
    std::string folder = base != nullptr ? base : "/tmp";
    QDir().mkpath(QString::fromStdString(folder));
    return folder + "/" + name + "-" + std::to_string(QCoreApplication::applicationPid());
}

struct SessionFixture {
    SessionFixture() : session(socket) {
        host.responsePath = TempPath("lst_");
        std::remove(host.responsePath.c_str());
    }
    ~SessionFixture() { std::remove(host.responsePath.c_str()); }

    void Begin(const char* server, std::uint16_t port, const char* login, const char* password,
               int apop = 0) {
        ASSERT_TRUE(session.Prepare(owner.get(), &host));
        session.SetLogin(server, port, login, password, apop);
    }
    // The statuses posted so far (after the posted messages were handled).
    std::vector<int> Statuses() {
        QCoreApplication::processEvents();
        return window.Statuses();
    }

    CMailSocket socket;
    CPop3Session session;
    RecordingWindow window;
    std::unique_ptr<Window> owner = MakeQtWindow(window);
    RecordingHost host;
};

}  // namespace wp::test
