#include "support/Desktop.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <unistd.h>

namespace fw::test {

namespace {
constexpr std::chrono::milliseconds Poll{50};
constexpr std::chrono::milliseconds ToolTimeout{5000};
constexpr std::chrono::milliseconds StopTimeout{3000};
constexpr int DisplayTries = 20;
constexpr int FirstDisplay = 400;
constexpr int DisplaySpread = 400;

void stop(std::unique_ptr<QProcess>& p) {
    if (!p || p->state() == QProcess::NotRunning)
        return;
    p->terminate();
    if (!p->waitForFinished(int(StopTimeout.count()))) {
        p->kill();
        p->waitForFinished(int(StopTimeout.count()));
    }
}
} // namespace

Desktop::Desktop() = default;

Desktop::~Desktop() {
    stop(wm_);
    stop(xvfb_);
}

QStringList Desktop::missingTools() {
    QStringList missing;
    for (const char* tool : {"Xvfb", "openbox", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    }
    return missing;
}

bool Desktop::start(QString* error) {
    // A display number no other X server on this machine holds (the lock files are shared).
    const int base = FirstDisplay + int(::getpid() % DisplaySpread);
    for (int i = 0; i < DisplayTries && !xvfb_; ++i) {
        const int n = base + i;
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            continue;
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setStandardOutputFile(QProcess::nullDevice());
        p->start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"),
                                          QStringLiteral("0"), QStringLiteral("1024x768x24"),
                                          QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!p->waitForStarted(int(ToolTimeout.count())))
            continue;
        display_ = QStringLiteral(":%1").arg(n);
        QDeadlineTimer deadline(StartTimeout);
        int code = -1;
        while (!deadline.hasExpired() && p->state() == QProcess::Running) {
            xdotool({QStringLiteral("getdisplaygeometry")}, &code);
            if (code == 0)
                break;
            QThread::msleep(Poll.count());
        }
        if (code == 0)
            xvfb_ = std::move(p);
        else
            stop(p);
    }
    if (!xvfb_) {
        *error = QStringLiteral("Xvfb did not start");
        return false;
    }

    wm_ = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    wm_->setProcessEnvironment(env);
    wm_->setStandardOutputFile(QProcess::nullDevice());
    wm_->setStandardErrorFile(QProcess::nullDevice());
    wm_->start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (!wm_->waitForStarted(int(ToolTimeout.count()))) {
        *error = QStringLiteral("openbox did not start");
        return false;
    }
    // The window manager is up once it tells the current desktop.
    QDeadlineTimer deadline(StartTimeout);
    while (!deadline.hasExpired()) {
        int code = -1;
        xdotool({QStringLiteral("get_desktop")}, &code);
        if (code == 0)
            return true;
        QThread::msleep(Poll.count());
    }
    *error = QStringLiteral("openbox did not take the display");
    return false;
}

QString Desktop::xdotool(const QStringList& args, int* exitCode) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), args);
    const bool ended = p.waitForStarted(int(ToolTimeout.count())) &&
                       p.waitForFinished(int(ToolTimeout.count()));
    if (!ended)
        p.kill(), p.waitForFinished(int(StopTimeout.count()));
    if (exitCode)
        *exitCode = ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QStringList Desktop::windows(const QString& title) const {
    return xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                    title})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList Desktop::visibleWindows() const {
    return windows(QStringLiteral("."));
}

QString Desktop::windowName(const QString& window) const {
    return xdotool({QStringLiteral("getwindowname"), window});
}

void Desktop::keepScreen(const QString& name) const {
    const QString folder = qEnvironmentVariable("FW_DESKTOP_SHOTS");
    if (folder.isEmpty())
        return;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                       folder + QLatin1Char('/') + name + QStringLiteral(".png")});
    if (!p.waitForFinished(int(ToolTimeout.count())))
        p.kill(), p.waitForFinished(int(StopTimeout.count()));
}

unsigned Shot::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height)
        return 0;
    const qsizetype i = (qsizetype(y) * width + x) * 3;
    return (unsigned(quint8(rgb[i])) << 16) | (unsigned(quint8(rgb[i + 1])) << 8) |
           unsigned(quint8(rgb[i + 2]));
}

Shot Desktop::grab(const QString& window) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("import"), {QStringLiteral("-window"), window, QStringLiteral("-depth"),
                                       QStringLiteral("8"), QStringLiteral("ppm:-")});
    if (!p.waitForFinished(int(ToolTimeout.count()))) {
        p.kill(), p.waitForFinished(int(StopTimeout.count()));
        return {};
    }
    // Binary PPM: "P6", width, height, maximum (255), one blank, then the pixels.
    const QByteArray data = p.readAllStandardOutput();
    QList<QByteArray> header;
    qsizetype at = 0;
    while (header.size() < 4 && at < data.size()) {
        while (at < data.size() && QChar::isSpace(uchar(data[at])))
            ++at;
        const qsizetype start = at;
        while (at < data.size() && !QChar::isSpace(uchar(data[at])))
            ++at;
        header << data.mid(start, at - start);
    }
    Shot shot;
    if (header.size() < 4 || header[0] != "P6" || header[3] != "255")
        return {};
    shot.width = header[1].toInt();
    shot.height = header[2].toInt();
    shot.rgb = data.mid(at + 1);
    if (shot.rgb.size() < qsizetype(shot.width) * shot.height * 3)
        return {};
    return shot;
}

QString Desktop::waitForWindow(const QString& title, std::chrono::milliseconds timeout) const {
    QDeadlineTimer deadline(timeout);
    do {
        const QStringList found = windows(title);
        if (!found.isEmpty())
            return found.first();
        QThread::msleep(Poll.count());
    } while (!deadline.hasExpired());
    return {};
}

} // namespace fw::test
