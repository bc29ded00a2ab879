#include "MessageWindowPresenter.h"

#include "MessageWindow.h"
#include "message/MessageRecord.h"
#include "message/RtfReader.h"
#include "ui/SecretText.h"
#include "ui/JsonLines.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QThread>
#include <QTimer>
#include <cstdio>

namespace fw {

namespace {

// The one-window-at-a-time guard. GUI thread only. A request that finds a window open waits in
// a nested event loop; the open window releases the guard when it finishes (not when its exec()
// returns, which cannot happen before the nested waiter's loop has ended).
struct WindowGuard {
    static constexpr int Woken = 0x5117;
    bool open = false;
    quint64 session = 0;
    QList<QEventLoop*> waiters;
};

WindowGuard& guard() {
    static WindowGuard g;
    return g;
}

// Returns a session number, or 0 when the wait was ended by the application quitting.
quint64 acquire() {
    WindowGuard& g = guard();
    while (g.open) {
        QEventLoop wait;
        g.waiters.append(&wait);
        const int how = wait.exec();
        g.waiters.removeOne(&wait);
        if (how != WindowGuard::Woken)
            return 0;
    }
    g.open = true;
    return ++g.session;
}

void release(quint64 session) {
    WindowGuard& g = guard();
    if (!g.open || g.session != session)
        return;
    g.open = false;
    for (QEventLoop* l : std::as_const(g.waiters))
        l->exit(WindowGuard::Woken);
}

std::chrono::milliseconds headlessLife(quint16 liveTime) {
    return liveTime == 0 ? std::chrono::milliseconds(0)
                         : (liveTime + 1) * MessageWindow::CountDownInterval;
}

} // namespace

MessageWindowPresenter::MessageWindowPresenter(QWidget* owner, bool headless)
    : owner_(owner), headless_(headless) {}

bool MessageWindowPresenter::windowOpen() {
    return guard().open;
}

void MessageWindowPresenter::showMessageWindow(const MessageRecord& record) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    if (QThread::currentThread() != app->thread()) {
        // Widgets live on the GUI thread only; a caller that skipped GuiThreadSinks waits here.
        QMetaObject::invokeMethod(
            app, [this, &record] { showMessageWindow(record); }, Qt::BlockingQueuedConnection);
        return;
    }
    if (headless_) {
        showHeadless(record);
        return;
    }
    const quint64 session = acquire();
    if (session == 0)
        return;
    MessageWindow form(record, owner_);
    QObject::connect(&form, &QDialog::finished, [session] { release(session); });
    form.exec();
    release(session);
}

void MessageWindowPresenter::showHeadless(const MessageRecord& record) {
    const quint64 session = acquire();
    if (session == 0)
        return;
    const QString caption = RtfReader::decodeCp1252(record.caption);
    if (jsonLinesOutput()) {
        JsonLines::standardOutput().write(QStringLiteral("message"),
                                          {{QStringLiteral("text"), caption}});
    } else {
        const QByteArray line = "message: " + shownText(caption).toLocal8Bit() + '\n';
        std::fputs(line.constData(), stderr);
        std::fflush(stderr);
    }
    const std::chrono::milliseconds life = headlessLife(record.cappedLiveTime());
    if (life.count() > 0) {
        QEventLoop loop;
        QTimer::singleShot(life, Qt::PreciseTimer, &loop, [&loop, session] {
            release(session);
            loop.quit();
        });
        loop.exec();
    }
    release(session);
}

} // namespace fw
