#pragma once

// An in-process POP3 server on 127.0.0.1 that plays a script on its own
// thread, for testing a client against replies a real server rarely gives:
// split at any byte, slow, cut off, or never coming.
//
//   wp::test::ScriptedPeer peer;
//   peer.Greet()
//       .Expect("USER alice\r\n").Send("+OK\r\n")
//       .Expect("PASS secret\r\n").Send("+OK logged in\r\n", wp::test::Pieces::Every(1))
//       .Expect("QUIT\r\n").Send("+OK bye\r\n")
//       .Start();
//   ... run the client against 127.0.0.1:peer.port() ...
//   peer.Check();   // every deviation from the script becomes a test failure
//
// The first connection is accepted before the first step. Anything the
// client sends that the script does not expect (a wrong command, a command
// after the script has ended, an extra connection) is recorded as a failure;
// Check() reports each with ADD_FAILURE, and so does the destructor for
// whatever was not checked.
//
// Split replies: each piece is written as its own TCP segment. When the
// client is a socket of this same process, the peer waits after each piece
// until that socket's receive queue is empty again, so the client reads each
// piece on its own (a client that stops reading in mid-reply gets the rest
// without waiting); a client in another process gets a short pause instead.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <source_location>
#include <string>
#include <thread>
#include <vector>

namespace wp::test {

// How one reply is cut into pieces.
struct Pieces {
    std::vector<std::size_t> sizes;    // lengths of the first pieces; the rest is one more piece
    std::size_t every = 0;             // or: pieces of this many bytes (the last may be shorter)
    std::chrono::milliseconds gap{0};  // extra pause after each piece but the last

    static Pieces Whole() { return {}; }
    static Pieces Every(std::size_t n, std::chrono::milliseconds gap = {}) { return {{}, n, gap}; }
    static Pieces Sizes(std::vector<std::size_t> sizes, std::chrono::milliseconds gap = {}) {
        return {std::move(sizes), 0, gap};
    }
    // Cut at these byte offsets (ascending): At({3, 10}) sends bytes 0-2,
    // 3-9 and the rest.
    static Pieces At(const std::vector<std::size_t>& offsets, std::chrono::milliseconds gap = {}) {
        Pieces p{{}, 0, gap};
        std::size_t last = 0;
        for (std::size_t at : offsets) {
            p.sizes.push_back(at > last ? at - last : 0);
            last = at > last ? at : last;
        }
        return p;
    }
    // The piece lengths for a reply of `total` bytes.
    std::vector<std::size_t> Split(std::size_t total) const;
};

class ScriptedPeer {
public:
    // Listens on 127.0.0.1 at a port the system chooses.
    ScriptedPeer();
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::uint16_t port() const { return port_; }
    static const char* host() { return "127.0.0.1"; }

    // --- Steps, played in order after Start() -------------------------------
    // "+OK <text>\r\n".
    ScriptedPeer& Greet(std::string text = "POP3 server ready");
    // "+OK <text> <timestamp>\r\n"; the timestamp includes its angle brackets.
    ScriptedPeer& GreetApop(std::string timestamp, std::string text = "POP3 server ready");
    // Writes these bytes exactly, cut as `pieces` says.
    ScriptedPeer& Send(std::string bytes, Pieces pieces = {});
    // Reads one line from the client (up to and including LF) and requires it
    // to equal `line` byte for byte.
    ScriptedPeer& Expect(std::string line);
    // Reads one line whatever it holds (see Received()).
    ScriptedPeer& ExpectAnyLine();
    // Waits before the next step, reading and recording meanwhile.
    ScriptedPeer& Pause(std::chrono::milliseconds how_long);
    // Waits, reading and recording meanwhile, until the test calls Release()
    // (each call releases one such step); a step timeout fails it. For a
    // server that is slow exactly as long as the test needs.
    ScriptedPeer& Hold();
    void Release();
    // Closes the connection (FIN), e.g. in the middle of a reply.
    ScriptedPeer& Close();
    // Closes the connection with a reset (RST).
    ScriptedPeer& Reset();
    // Answers nothing: keeps the connection open, reading and recording,
    // until the client closes it or the peer is stopped.
    ScriptedPeer& Silence();
    // Writes `unit` over and over, `gap` apart, until the client closes the
    // connection (the step then ends well) or the peer is stopped: a reply
    // that never ends, flooding or trickling.
    ScriptedPeer& Stream(std::string unit, std::chrono::milliseconds gap = {});
    // Bytes written by Stream steps so far.
    std::uint64_t streamed() const { return streamed_; }
    // Takes the next connection; a connection still open is read to the end
    // of what has arrived and closed once the new one is there.
    ScriptedPeer& Accept();

    // A "CAPA" where the script expects another command is answered
    // "-ERR", as by a server without capabilities (on by default; scripts
    // about capabilities expect CAPA and answer it themselves).
    ScriptedPeer& RefuseUnexpectedCapa(bool on) {
        refuse_capa_ = on;
        return *this;
    }

    // Longest wait for the client within one step (default 30 s); a step that
    // waits longer fails and ends the script.
    ScriptedPeer& StepTimeout(std::chrono::milliseconds bound);

    // Starts playing the script on the peer's thread.
    void Start();
    // Stops the thread, closing every connection. Idempotent.
    void Stop();

    // True once every step has been played (or the script was cut short by a
    // failure); false if that did not happen within `bound`.
    bool WaitDone(std::chrono::milliseconds bound = std::chrono::seconds(30));
    // True once the current connection has been closed, by the client or by
    // the script, within `bound`.
    bool WaitClosed(std::chrono::milliseconds bound = std::chrono::seconds(30));
    // Waits for the script to end and, when `until_closed`, for the client to
    // close the connection; then reports every failure not yet reported with
    // ADD_FAILURE. Returns true when there was none.
    bool Check(bool until_closed = true, std::source_location where = std::source_location::current());

    // What the client sent on connection `index` (0 = the first), all of it.
    std::string Received(std::size_t index = 0) const;
    // Connections accepted so far.
    std::size_t connections() const;
    // Failures so far, each naming its step.
    std::vector<std::string> Failures() const;
    // The failures not yet reported, which then count as reported.
    std::vector<std::string> TakeFailures();

private:
    enum class Kind { kAccept, kSend, kExpect, kExpectAny, kPause, kHold, kClose, kReset, kSilence, kStream };
    struct Step {
        Kind kind;
        std::string bytes;
        Pieces pieces;
        std::chrono::milliseconds wait{0};
    };
    enum class Io { kOk, kClosed, kTimeout, kStopped, kError };

    ScriptedPeer& Add(Step step);
    void Run();
    bool Play(std::size_t index, const Step& step);
    Io ReadSome(std::chrono::steady_clock::time_point deadline);
    Io ReadLine(std::string& line, std::chrono::steady_clock::time_point deadline);
    Io Write(const char* data, std::size_t size);
    bool Pace(std::chrono::milliseconds gap, bool& watch_client);
    bool Sleep(std::chrono::milliseconds how_long);
    bool AcceptOne(std::chrono::steady_clock::time_point deadline, std::size_t index);
    void CloseConnection(bool reset);
    void Drain(bool record_as_unexpected);
    void Linger();
    void FindClientSocket();
    bool ClientSocketValid() const;
    void Fail(std::string what);
    std::string Describe(std::size_t index) const;
    bool Stopping() const;

    int listen_fd_ = -1;
    int wake_[2] = {-1, -1};  // a pipe: writing to it stops the thread's waits
    std::uint16_t port_ = 0;
    std::vector<Step> steps_;
    std::chrono::milliseconds step_timeout_ = std::chrono::seconds(30);
    bool refuse_capa_ = true;
    std::thread thread_;
    bool started_ = false;

    // Owned by the peer's thread.
    int conn_ = -1;
    int client_fd_ = -1;  // the client's end, when it lives in this process
    std::uint16_t client_port_ = 0;
    std::string pending_;  // received, not yet consumed by a step

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> received_;
    std::vector<std::string> failures_;
    std::size_t reported_ = 0;
    std::size_t current_ = 0;  // the step being played
    bool done_ = false;
    bool closed_ = false;  // a connection was accepted and has been closed since
    std::atomic<bool> stop_{false};
    std::atomic<int> releases_{0};
    std::atomic<std::uint64_t> streamed_{0};
    int holdsPassed_ = 0;  // the peer's thread
};

}  // namespace wp::test
