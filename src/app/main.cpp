// Program entry: the main window first (its creation reads the command line and the package),
// then, unless start-up ended the program, the search window and the message loop.

#include "CommandLineInfo.h"
#include "JsonLinesSignalExit.h"
#include "MessageWindowPresenter.h"
#include "SearchWindow.h"
#include "MainWindow.h"
#include "ftp/FtpUpgradeEngine.h"
#include "package/ExtractionCleanup.h"
#include "process/PasswordInput.h"
#include "process/ProcessState.h"
#include "search/DeviceSearch.h"
#include "tftp/TftpRecoveryEngine.h"
#include "ui/Headless.h"
#include "ui/SecretText.h"
#include "ui/JsonLines.h"
#include "upgrade/MainWindowLogic.h"
#include "upgrade/UpgradeController.h"

#include <QApplication>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// The offscreen platform's chatter is no part of a headless run's report on standard error.
void headlessMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    if (text.contains(QLatin1String("does not support propagateSizeHints")) ||
        text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    // One line per message, like every other report line.
    fprintf(stderr, "%s\n", qPrintable(fw::shownText(qFormatLogMessage(type, context, text))));
    fflush(stderr);
}

// The run's exit status; a JSON Lines run's last object says it.
int finish(int status) {
    if (fw::jsonLinesOutput())
        fw::JsonLines::standardOutput().writeExit(status);
    return status;
}

// The password line for a "-" argument; the run ends at once when there is none.
bool readPasswordInput(fw::MainWindowLogic& form, const QStringList& args) {
    if (!fw::MainWindowLogic::PasswordFromInput(args))
        return true;
    const auto line = fw::readPasswordLine(STDIN_FILENO, fw::PasswordInputDeadline);
    if (line) {
        form.StandardInputPassword = QString::fromLocal8Bit(*line);
        return true;
    }
    const QString text = QStringLiteral("No password on standard input");
    if (fw::jsonLinesOutput()) {
        fw::JsonLines::standardOutput().write(QStringLiteral("log"),
                                              {{QStringLiteral("text"), text}});
    } else {
        std::fprintf(stderr, "fwupgrade: %s\n", qPrintable(text));
        std::fflush(stderr);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // --help and --version need neither a display nor the package.
    // A reader that goes away (`| head -1`) must not end an upgrade: writes to it fail instead.
    ::signal(SIGPIPE, SIG_IGN);
    if (const auto status = fw::CommandLineInfo::answer(argc, argv))
        return *status;
    if (fw::jsonLinesOutput())
        fw::JsonLinesSignalExit::install();
    // A headless run needs no display at all.
    if (fw::headlessRun()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(headlessMessages);
    }
    fw::installTerminationCleanup();

    fw::ProcessState::quitAtStart = false;
    QApplication app(argc, argv);
    // The main window decides when the program ends (Exit, the watchdog, a headless idle end).
    QApplication::setQuitOnLastWindowClosed(true);

    fw::DeviceSearch search;
    auto mainWindow = std::make_unique<fw::MainWindow>(search);
    fw::MessageWindowPresenter messages(mainWindow.get());
    mainWindow->setMessageWindowSink(&messages);
    search.setSinks(mainWindow->sinks());

    const QStringList args = QCoreApplication::arguments().mid(1);
    if (!readPasswordInput(mainWindow->form(), args))
        return finish(fw::ExitStatus::StartupEnded);
    mainWindow->form().FormCreate(args, QCoreApplication::applicationFilePath());
    if (fw::ProcessState::quitAtStart)
        return finish(mainWindow->form().exitStatus);

    fw::SearchWindow searchWindow(search, mainWindow.get());
    mainWindow->setSearchWindow([&searchWindow] { searchWindow.exec(); });
    // The transfer engines: the TFTP window, then the FTP window, which also serves the
    // read-back's FTP try. The watchdog cancels an FTP call in progress before the loop ends.
    fw::TftpRecoveryEngine tftpEngine;
    fw::FtpUpgradeEngine ftpEngine;
    fw::UpgradeController& controller = mainWindow->form().controller();
    controller.setTransferServices({&ftpEngine, &tftpEngine, nullptr});
    controller.setFtpRomRead(&ftpEngine);

    mainWindow->show();
    app.exec();
    return finish(mainWindow->form().exitStatus);
}
