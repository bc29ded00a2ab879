#include "ui/GuiThreadSinks.h"

#include "message/MessageRecord.h"

#include <QList>
#include <QMetaObject>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <functional>
#include <memory>
#include <vector>

namespace fw {

namespace {
// One blocking request of a worker. Its answer lives here, not on the worker's stack, so that a
// box still open on the GUI thread after shutdown() has nothing of the worker's to write to.
struct PendingCall {
    QSemaphore done;
    bool cancelled = false; // guarded by the forwarder's mutex
    BoxAnswer answer = BoxAnswer::Cancel;
};
} // namespace

class GuiThreadSinks::Forwarder final : public LogSink,
                                        public StatusSink,
                                        public ProgressSink,
                                        public BoxSink,
                                        public MessageWindowSink {
public:
    Forwarder(const Sinks& gui, QObject& context) : gui_(gui), context_(context) {}

    void appendLog(const QString& line) override {
        post([this, line] { gui_.log->appendLog(line); });
    }
    void setStatusText(const QString& text) override {
        post([this, text] { gui_.status->setStatusText(text); });
    }
    void setProgressMaximum(qint64 maximum) override {
        post([this, maximum] { gui_.progress->setProgressMaximum(maximum); });
    }
    void setProgressPosition(qint64 position) override {
        post([this, position] { gui_.progress->setProgressPosition(position); });
    }
    void advanceProgress(qint64 delta) override {
        post([this, delta] { gui_.progress->advanceProgress(delta); });
    }

    BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons buttons,
                      BoxIcon icon) override {
        return runAndWait([this, text, caption, buttons, icon] {
            return gui_.box->showBox(text, caption, buttons, icon);
        });
    }
    void showMessageWindow(const MessageRecord& record) override {
        runAndWait([this, record] {
            gui_.messageWindow->showMessageWindow(record);
            return BoxAnswer::Ok;
        });
    }

    void shutdown() {
        QMutexLocker lock(&mutex_);
        closed_ = true;
        queued_.clear();
        for (const auto& call : std::as_const(pending_)) {
            call->cancelled = true;
            call->done.release();
        }
        pending_.clear();
    }

private:
    bool onGuiThread() const { return QThread::currentThread() == context_.thread(); }
    bool closed() {
        QMutexLocker lock(&mutex_);
        return closed_;
    }

    // Calls wait in one queue, in the order they were made; one event carries all that came
    // before the GUI thread got to it (a transfer reports per block). Queued events to one
    // receiver are delivered in the order they were posted, so a box asked for later still
    // comes after the reports made before it.
    template <typename F> void post(F f) {
        if (onGuiThread()) {
            if (!closed())
                f();
            return;
        }
        QMutexLocker lock(&mutex_);
        if (closed_)
            return;
        const bool first = queued_.empty();
        queued_.emplace_back(std::move(f));
        if (first)
            QMetaObject::invokeMethod(&context_, [this] { runQueued(); }, Qt::QueuedConnection);
    }

    void runQueued() {
        std::vector<std::function<void()>> batch;
        {
            QMutexLocker lock(&mutex_);
            batch.swap(queued_);
        }
        for (const auto& f : batch) {
            if (closed())
                return;
            f();
        }
    }

    template <typename F> BoxAnswer runAndWait(F f) {
        if (onGuiThread())
            return closed() ? BoxAnswer::Cancel : f();
        auto call = std::make_shared<PendingCall>();
        {
            QMutexLocker lock(&mutex_);
            if (closed_)
                return BoxAnswer::Cancel;
            pending_.append(call);
            QMetaObject::invokeMethod(
                &context_, [this, call, f = std::move(f)] { runPending(call, f); },
                Qt::QueuedConnection);
        }
        call->done.acquire(); // the release orders the answer's write before this read
        return call->answer;
    }

    template <typename F> void runPending(const std::shared_ptr<PendingCall>& call, const F& f) {
        {
            QMutexLocker lock(&mutex_);
            if (call->cancelled)
                return;
        }
        const BoxAnswer answer = f();
        QMutexLocker lock(&mutex_);
        if (call->cancelled)
            return; // the worker has gone on without it
        call->answer = answer;
        pending_.removeOne(call);
        call->done.release();
    }

    Sinks gui_;
    QObject& context_;
    QMutex mutex_;
    bool closed_ = false;
    QList<std::shared_ptr<PendingCall>> pending_;
    std::vector<std::function<void()>> queued_;
};

GuiThreadSinks::GuiThreadSinks(const Sinks& guiSinks)
    : gui_(guiSinks), forwarder_(std::make_unique<Forwarder>(gui_, context_)) {}

GuiThreadSinks::~GuiThreadSinks() {
    forwarder_->shutdown();
}

void GuiThreadSinks::shutdown() {
    forwarder_->shutdown();
}

Sinks GuiThreadSinks::workerSinks() const {
    Sinks s;
    Forwarder* f = forwarder_.get();
    s.log = gui_.log ? f : nullptr;
    s.status = gui_.status ? f : nullptr;
    s.progress = gui_.progress ? f : nullptr;
    s.box = gui_.box ? f : nullptr;
    s.messageWindow = gui_.messageWindow ? f : nullptr;
    return s;
}

} // namespace fw
