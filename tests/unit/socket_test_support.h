#pragma once
// Helpers for the socket, login, HTTP and web-server tests: a scripted TCP peer on 127.0.0.1
// (its own thread, every wait bounded) and sinks that record what an engine reports.

#include "message/MessageRecord.h"
#include "ui/Sinks.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace fw::test {

using namespace std::chrono_literals;

// Accepts one connection, reads the request (up to a blank line, or `readBytes` bytes), sends
// the parts with their pauses, then closes (or first holds the connection for `holdFor`, or
// until the client closes).
class ScriptedPeer {
public:
    struct Part {
        QByteArray bytes;
        std::chrono::milliseconds pauseBefore{0};
    };

    explicit ScriptedPeer(QList<Part> parts, std::chrono::milliseconds holdFor = 0ms,
                          qsizetype readBytes = -1)
        : parts_(std::move(parts)), holdFor_(holdFor), readBytes_(readBytes) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedPeer() { finish(); }

    quint16 port() const { return port_; }
    // Waits for the peer to end (bounded by its own time-outs) and gives what it received.
    QByteArray finish() {
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            ::close(listener_);
        listener_ = -1;
        return received_;
    }

private:
    static bool waitFor(int fd, short events, std::chrono::milliseconds t) {
        pollfd p{fd, events, 0};
        return ::poll(&p, 1, int(t.count())) > 0;
    }
    void serve() {
        if (!waitFor(listener_, POLLIN, 10s))
            return;
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0)
            return;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        char buf[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            if (readBytes_ >= 0 ? received_.size() >= readBytes_ : received_.contains("\r\n\r\n"))
                break;
            if (!waitFor(fd, POLLIN, 100ms))
                continue;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            received_.append(buf, n);
        }
        for (const Part& p : parts_) {
            std::this_thread::sleep_for(p.pauseBefore);
            qsizetype sent = 0;
            while (sent < p.bytes.size()) {
                const ssize_t n = ::send(fd, p.bytes.constData() + sent,
                                         size_t(p.bytes.size() - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
            }
        }
        // Hold the connection open until the client gives up or the hold time ends.
        const auto holdEnd = std::chrono::steady_clock::now() + holdFor_;
        while (std::chrono::steady_clock::now() < holdEnd) {
            if (!waitFor(fd, POLLIN, 50ms))
                continue;
            if (::recv(fd, buf, sizeof buf, 0) <= 0)
                break;
        }
        ::close(fd);
    }

    QList<Part> parts_;
    std::chrono::milliseconds holdFor_;
    qsizetype readBytes_;
    int listener_ = -1;
    quint16 port_ = 0;
    QByteArray received_;
    std::thread thread_;
};

struct RecordedBox {
    QString text;
    QString caption;
    BoxButtons buttons = BoxButtons::Ok;
};

// Records every report; safe to fill from an engine's thread.
class RecordingSinks : public LogSink,
                       public StatusSink,
                       public ProgressSink,
                       public BoxSink,
                       public MessageWindowSink {
public:
    Sinks sinks() { return Sinks{this, this, this, this, this}; }

    void appendLog(const QString& line) override {
        std::lock_guard l(m_);
        log_.append(line);
    }
    void setStatusText(const QString& text) override {
        std::lock_guard l(m_);
        status_.append(text);
    }
    void setProgressMaximum(qint64 v) override { maximum = v; }
    void setProgressPosition(qint64 v) override { position = v; }
    void advanceProgress(qint64 d) override {
        position += d;
        ++advances;
    }
    BoxAnswer showBox(const QString& text, const QString& caption, BoxButtons buttons,
                      BoxIcon) override {
        std::lock_guard l(m_);
        boxes_.append({text, caption, buttons});
        return BoxAnswer::Ok;
    }
    void showMessageWindow(const MessageRecord& r) override {
        std::lock_guard l(m_);
        messages_.append(QString::fromLatin1(r.caption));
    }

    QStringList log() const {
        std::lock_guard l(m_);
        return log_;
    }
    QStringList status() const {
        std::lock_guard l(m_);
        return status_;
    }
    QList<RecordedBox> boxes() const {
        std::lock_guard l(m_);
        return boxes_;
    }
    QStringList messages() const {
        std::lock_guard l(m_);
        return messages_;
    }
    // Index of `line` in the log at or after `from`; -1 when absent.
    qsizetype indexOf(const QString& line, qsizetype from = 0) const {
        return log().indexOf(line, from);
    }

    std::atomic<qint64> maximum{0};
    std::atomic<qint64> position{0};
    std::atomic<int> advances{0};

private:
    mutable std::mutex m_;
    QStringList log_;
    QStringList status_;
    QList<RecordedBox> boxes_;
    QStringList messages_;
};

} // namespace fw::test
