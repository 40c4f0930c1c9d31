#pragma once
// Window messages between the worker, the session and the main frame.
// A "window" is an object living on the user-interface thread: posting queues
// a message to it, sending runs it there while the caller waits.

#include <cstdint>
#include <functional>
#include <memory>

namespace wp {

using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

inline constexpr std::uint32_t WM_APP = 0x8000;
inline constexpr std::uint32_t UM_SOCKETNOTIFY = WM_APP + 101;   // 0x8065
inline constexpr std::uint32_t UM_STATUSTEXT = WM_APP + 200;     // 0x80C8
inline constexpr std::uint32_t UM_PROGRESSPOS = WM_APP + 201;    // 0x80C9
inline constexpr std::uint32_t UM_PROGRESSRANGE = WM_APP + 202;  // 0x80CA
inline constexpr std::uint32_t UM_SELECTIONINFO = WM_APP + 204;  // 0x80CC
inline constexpr std::uint32_t UM_OPERATIONDONE = WM_APP + 220;  // 0x80DC
inline constexpr std::uint32_t WM_CLOSE = 0x0010;

inline constexpr std::uint16_t LoWord(std::uintptr_t v) {
    return static_cast<std::uint16_t>(v & 0xFFFF);
}
inline constexpr std::uint16_t HiWord(std::uintptr_t v) {
    return static_cast<std::uint16_t>((v >> 16) & 0xFFFF);
}
inline constexpr std::uintptr_t MakeLong(std::uint16_t lo, std::uint16_t hi) {
    return static_cast<std::uintptr_t>(lo) | (static_cast<std::uintptr_t>(hi) << 16);
}

class MessageHandler {
public:
    virtual ~MessageHandler() = default;
    virtual LResult HandleMessage(std::uint32_t msg, WParam wParam, LParam lParam) = 0;
};

// A message target with the owner thread's semantics.
class Window {
public:
    virtual ~Window() = default;
    // Queued; may be called from any thread. Handled by the owner thread's loop.
    virtual void Post(std::uint32_t msg, WParam wParam, LParam lParam) = 0;
    // Runs the handler on the owner thread; the caller waits for the result.
    // Called on the owner thread it runs at once.
    virtual LResult Send(std::uint32_t msg, WParam wParam, LParam lParam) = 0;
    virtual bool IsOwnerThread() const = 0;
};

// The Qt realisation: it lives on the user-interface thread (wherever it is
// made) and hands every message to its handler there, posted ones in the
// order they were posted. Messages still queued when it is destroyed are
// dropped, and a sender still waiting then gets 0; destroy it on the
// user-interface thread, after the last thread that might post to it is done.
std::unique_ptr<Window> MakeQtWindow(MessageHandler& handler);

// True on the thread of the Qt application object; false everywhere when
// there is none.
bool IsUiThread();

// "Dispatch pending messages": processes the user-interface thread's pending
// events once (what a handler posts meanwhile waits for the next call). On
// any other thread it does nothing.
void DispatchPendingMessages();

// Runs fn on the user-interface thread and waits for it; runs it at once when
// already there or when no application object exists.
void RunOnUiThread(const std::function<void()>& fn);

// On the user-interface thread: runs the calls another thread is blocked on,
// RunOnUiThread's and window's Send's, and nothing else. For an owner that
// must let its worker finish without handing control to arbitrary events
// (the owner is being destroyed).
void ServeBlockedCalls(Window* window);

// The zero-length sleep of the original loops.
void YieldProcessor();

}  // namespace wp
