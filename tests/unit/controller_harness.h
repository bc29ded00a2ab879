#pragma once
// The upgrade controller under test: a main window of plain fields (FakeMainView), a device list
// filled by hand, an echo that never leaves the process, files in a private directory and the
// router's web server on 127.0.0.1 (an ephemeral port). Test thread = GUI thread.

#include "process/ProcessState.h"
#include "support/EventPump.h"
#include "support/FakeMainView.h"
#include "transfer/FileAttributes.h"
#include "upgrade/UpgradeController.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <chrono>
#include <functional>
#include <memory>

namespace fw::test {

inline QCoreApplication& controllerTestApp() {
    static int argc = 1;
    static char name[] = "controller_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

constexpr std::chrono::milliseconds kWaitBound{10000};

struct ControllerHarness {
    QTemporaryDir temp;
    DeviceSearch search;
    FakeMainView view;
    QStringList echoed;
    bool echoAnswer = true;
    std::unique_ptr<MainWindowLogic> form;

    explicit ControllerHarness(quint16 webPort = 1) {
        controllerTestApp();
        ProcessState::quitAtStart = false;
        MainWindowLogicConfig c;
        c.tempBase = temp.path();
        c.webPort = webPort;
        c.probe = [](const QString&) {};
        form = std::make_unique<MainWindowLogic>(view, search, c);
        view.attach(*form);
        search.setEchoFunction([this](const QString& a) {
            echoed.append(a);
            return echoAnswer;
        });
        // A user-release run with its file in the package; each test changes what it needs.
        form->HaveUpgradeFile = 1;
        form->LogShown = true;
        form->Interactive = true;
        view.userId = QStringLiteral("admin");
    }
    ~ControllerHarness() { form.reset(); }

    UpgradeController& controller() { return form->controller(); }

    // Writes a file into the private directory and lists it in the extraction list copy.
    QString addFile(const QString& name, const QByteArray& bytes, quint16 attribute) {
        const QString path = temp.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return {};
        f.close();
        form->extractionCopy.append(path, attribute, 1);
        return path;
    }

    // A router in the device list, chosen in IPComBox; the password typed afterwards.
    void chooseRouter(qint32 type, const QString& password, const QString& romId = {},
                      const QString& address = QStringLiteral("127.0.0.1")) {
        search.devices().append(DeviceRecord{type, address, romId, QString()});
        view.setIpText(address + QStringLiteral(" router"));
        form->IPComBoxChange();
        view.password = password;
    }

    // Delivers the worker's queued reports until `done` holds; false after the bound.
    bool pumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds bound = kWaitBound) {
        return fw::test::pumpUntil(done, bound);
    }
    // Waits without delivering anything, so a worker that asks for a box stays in it.
    bool waitUnpumped(const std::function<bool()>& done,
                      std::chrono::milliseconds bound = kWaitBound) {
        QDeadlineTimer deadline(bound);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(2);
        }
        return true;
    }
    bool waitCounter(std::uint16_t value) {
        return pumpUntil([&] { return form->stopCounter.load() == value; });
    }

    bool logHas(const QString& line) const { return view.log.contains(line); }
    qsizetype logIndex(const QString& line) const { return view.log.indexOf(line); }
    bool hasBox(const QString& text, const QString& caption) const {
        for (const auto& b : view.boxes)
            if (b.text == text && b.caption == caption)
                return true;
        return false;
    }
};

} // namespace fw::test
