#pragma once

// A TCP relay on 127.0.0.1 that holds every byte for a fixed time in each
// direction, as a distant server would: a round trip costs twice the delay
// however the bytes are cut. Bytes are stamped when they arrive and leave
// in order when their time has come; nothing waits on a fixed sleep.
//
//   wp::test::DelayProxy proxy(dovecotPort, std::chrono::milliseconds(20));
//   ... connect the client to 127.0.0.1:proxy.port() ...

#include <chrono>
#include <cstdint>
#include <thread>

namespace wp::test {

class DelayProxy {
public:
    DelayProxy(std::uint16_t targetPort, std::chrono::milliseconds delay);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    std::uint16_t port() const { return port_; }
    // Connections relayed so far.
    int connections() const;

private:
    void Run();

    std::uint16_t targetPort_;
    std::chrono::milliseconds delay_;
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread thread_;
    struct State;
    State* state_ = nullptr;
};

}  // namespace wp::test
