#include "panel/input_blocking_wait.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QTimer>
#include <QtConcurrent>

namespace panel {

namespace {

class InputSwallower : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::Wheel:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::Close:
                return true;
            default:
                return QObject::eventFilter(watched, event);
        }
    }
};

}  // namespace

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

void waitWithoutInput(std::chrono::milliseconds duration) {
    InputSwallower swallower;
    // A sign of life: the window is waiting, not hung.
    const BusyCursor busy;
    qApp->installEventFilter(&swallower);
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
    qApp->removeEventFilter(&swallower);
}

void runWhileRepainting(const std::function<void()>& work) {
    const BusyCursor busy;
    QFutureWatcher<void> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(work));
    if (!watcher.isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    watcher.waitForFinished();
}

}  // namespace panel
