#include "platform/messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <thread>

namespace wp {
namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class MessageEvent final : public QEvent {
public:
    MessageEvent(std::uint32_t msg, WParam wParam, LParam lParam)
        : QEvent(kMessageEvent), msg_(msg), wParam_(wParam), lParam_(lParam) {}
    std::uint32_t msg_;
    WParam wParam_;
    LParam lParam_;
};

class QtWindow final : public QObject, public Window {
public:
    explicit QtWindow(MessageHandler& handler) : handler_(handler) {
        // Made on another thread, it still belongs to the user-interface thread.
        QCoreApplication* app = QCoreApplication::instance();
        if (app != nullptr && thread() != app->thread()) {
            moveToThread(app->thread());
        }
    }

    void Post(std::uint32_t msg, WParam wParam, LParam lParam) override {
        QCoreApplication::postEvent(this, new MessageEvent(msg, wParam, lParam));
    }

    LResult Send(std::uint32_t msg, WParam wParam, LParam lParam) override {
        if (IsOwnerThread()) {
            return handler_.HandleMessage(msg, wParam, lParam);
        }
        LResult result = 0;
        QMetaObject::invokeMethod(
            this, [&] { result = handler_.HandleMessage(msg, wParam, lParam); },
            Qt::BlockingQueuedConnection);
        return result;
    }

    bool IsOwnerThread() const override { return QThread::currentThread() == thread(); }

protected:
    bool event(QEvent* e) override {
        if (e->type() == kMessageEvent) {
            auto* m = static_cast<MessageEvent*>(e);
            handler_.HandleMessage(m->msg_, m->wParam_, m->lParam_);
            return true;
        }
        return QObject::event(e);
    }

private:
    MessageHandler& handler_;
};

}  // namespace

std::unique_ptr<Window> MakeQtWindow(MessageHandler& handler) {
    return std::make_unique<QtWindow>(handler);
}

bool IsUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void DispatchPendingMessages() {
    if (IsUiThread()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void RunOnUiThread(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || IsUiThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
}

void ServeBlockedCalls(Window* window) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || !IsUiThread()) {
        return;
    }
    QCoreApplication::sendPostedEvents(app, QEvent::MetaCall);
    if (auto* object = dynamic_cast<QObject*>(window)) {
        QCoreApplication::sendPostedEvents(object, QEvent::MetaCall);
    }
}

void YieldProcessor() {
    std::this_thread::yield();
}

}  // namespace wp
