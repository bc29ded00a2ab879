#include "support/HeadlessProgram.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcessEnvironment>

namespace fw::test {

QString describe(const ProgramRun& run) {
    return QStringLiteral("exit %1\n--- out\n%2--- err\n%3")
        .arg(run.exitCode)
        .arg(QString::fromLocal8Bit(run.out), QString::fromLocal8Bit(run.err));
}

ProgramRun runHeadless(const QString& program, const QStringList& args,
                       std::chrono::milliseconds timeout) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FWUPGRADE_HEADLESS"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    ProgramRun r = runProgram(program, args, env, timeout);
    EXPECT_TRUE(r.started) << program.toStdString();
    EXPECT_FALSE(r.timedOut) << program.toStdString();
    return r;
}

QString fwpackPath() {
    return buildPath(QStringLiteral("tools/fwpack/fwpack"));
}

QString packProgram(const QString& dir, const QStringList& files,
                    const std::optional<QStringList>& settingsOptions) {
    const QDir d(dir);
    const auto env = QProcessEnvironment::systemEnvironment();
    QStringList appended = files;
    if (settingsOptions) {
        const QString settings = d.filePath(QStringLiteral("set.bin"));
        const ProgramRun s =
            runProgram(fwpackPath(),
                       QStringList{QStringLiteral("settings"), QStringLiteral("-o"), settings} +
                           *settingsOptions,
                       env, HeadlessRunTimeout);
        EXPECT_EQ(s.exitCode, 0) << s.err.toStdString();
        appended << settings + QStringLiteral(":settings");
    }
    const QString packed = d.filePath(QStringLiteral("packed"));
    const ProgramRun c = runProgram(
        fwpackPath(),
        QStringList{QStringLiteral("create"), QStringLiteral("-o"), packed, fwupgradePath()} +
            appended,
        env, HeadlessRunTimeout);
    EXPECT_EQ(c.exitCode, 0) << c.err.toStdString();
    return packed;
}

QByteArray expectedUploadBody(const QByteArray& files) {
    return "-----------------123456789\r\n"
           "Content-Disposition: from-data; name=\"FN\"; filename=\"upgrade.bin\" \r\n"
           "Content-Type: application/octet-stream \r\n"
           "\r\n" +
           files + "\r\n----\r\n";
}

} // namespace fw::test
