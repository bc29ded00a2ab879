// Start-up of the main window: FormCreate, the command line, FormActivate and ReadSettings.

#include "process/ProcessState.h"
#include "search/DeviceSearch.h"
#include "transfer/FileAttributes.h"
#include "ui/SecretText.h"
#include "upgrade/MainView.h"
#include "upgrade/MainWindowLogic.h"
#include "upgrade/RomReadBackEngine.h"

#include <QFile>

namespace fw {

namespace {
const QString kVersionLine = QStringLiteral("Program Version V1.1.1f ");
const QString kBuildLine = QStringLiteral("Program build at 2002/02/19 pm 1:48");
const QString kReadBackCaption = QStringLiteral("Device ROM data download V1.1.0");
const QString kDefaultRomId = QStringLiteral("Ulvika");
const QString kNull = QStringLiteral("null");
const QString kLog = QStringLiteral("log");
const QString kDefault = QStringLiteral("default");
const QString kFromInput = QStringLiteral("-");
const QString kParameterError = QStringLiteral("Clear all setting by parameter input error.");

// The texts of a read-back command line must fit their fields of the settings record, zero
// included, and survive the record's single-byte encoding.
bool fitsReadBackField(const QString& text, SettingsRecord::Field field) {
    const QByteArray bytes = text.toLatin1();
    return bytes.size() < field.size && QString::fromLatin1(bytes) == text;
}
} // namespace

void MainWindowLogic::FormCreate(const QStringList& args, const QString& exePath) {
    log(kVersionLine);
    log(kBuildLine);

    romId = kDefaultRomId;
    settings.setByte(SettingsRecord::SettingFlags, SettingsRecord::InitialFlags);
    GetMode = PutMode = ParamLog = false;
    StopLimit = 40;
    OrderFromSettings = FactoryRelease = false;

    ParamMode = args.size() >= 4;
    if (ParamMode)
        readCommandLine(args);

    package = std::make_unique<EmbeddedPackage>(view_.sinks(), config_.tempBase);
    ListDetail = 111;
    FullHeight = view_.windowHeight();
    UpgradeMethod = Method::None;
    SectionCheck = false;
    sectionList.clear();
    view_.setUserIdText(QStringLiteral("admin"));

    const qint32 r = package->ReadinputExeFile(exePath);
    // A damaged package ends the program whatever the command line says: the reader has shown
    // its box and removed what it extracted.
    if (r == EmbeddedPackage::Damaged) {
        endProgram();
        return;
    }

    // A file named on the command line (or a read-back's output name) replaces the package,
    // which is then extracted and deleted but not used. A put or set without a file upgrades
    // with the package's own files, so a packed executable can be scripted.
    if (ParamMode && !view_.updateFileNameText().isEmpty())
        return;

    if (r == -2) {
        endProgram(); // the reader has shown its own box
        return;
    }
    if (r < 0) {
        view_.sinks().showBox(QStringLiteral("Read Imbed File Error !!"),
                              QStringLiteral("Initial Error"), BoxButtons::Ok, BoxIcon::Error);
        endProgram();
        return;
    }
    if (r == 0) {
        HaveUpgradeFile = 0;
        log(QStringLiteral("No Imbed File Found !!"));
    } else {
        LogSink* memo = view_.sinks().log;
        if (memo)
            package->ListToLog(*memo);
        const int n = package->CountUpgradeFiles();
        HaveUpgradeFile = n > 0 ? 1 : 0;
        if (n <= 0)
            log(QStringLiteral("No Upgrade File Found !!"));
    }
    package->CopyExtractionList(extractionCopy);
}

void MainWindowLogic::endProgram() {
    ProcessState::quitAtStart = true;
    exitStatus = ExitStatus::StartupEnded;
    view_.terminateApplication();
    view_.releaseWindow();
}

void MainWindowLogic::useSingleFile(const QString& path) {
    HaveUpgradeFile = 1;
    extractionCopy.clear();
    extractionCopy.append(path, AttrHandPicked, 1);
}

bool MainWindowLogic::PasswordFromInput(const QStringList& args) {
    if (args.size() < 4 || args[2] != kFromInput)
        return false;
    const QString verb = args[0].toLower();
    return verb == QLatin1String("put") || verb == QLatin1String("set") ||
           verb == QLatin1String("get");
}

void MainWindowLogic::readCommandLine(const QStringList& args) {
    const QString& address = args[1];
    if (address == kNull) {
        view_.setIpText(QString());
        log(QStringLiteral("Set DST IP = null in parameter input"));
    } else {
        view_.setIpText(address);
        log(QStringLiteral("Set DstIP = ") + address + QStringLiteral(" in parameter input"));
    }
    // "-" stands for the line read from standard input, taken as it is: "null" there is a
    // password, an empty line is none.
    const bool fromInput = args[2] == kFromInput && StandardInputPassword.has_value();
    const QString password = fromInput ? *StandardInputPassword : args[2];
    if (fromInput ? password.isEmpty() : password == kNull) {
        view_.setPasswordText(QString());
        log(QStringLiteral("Set password = null in parameter input"));
    } else {
        registerSecret(password);
        view_.setPasswordText(password);
        KeepPassword = !password.isEmpty();
        log(QStringLiteral("Set password = ") + maskedSecret(password) +
            QStringLiteral(" in parameter input"));
    }
    const QString& rom = args[3];
    if (rom == kNull) {
        romId.clear();
        log(QStringLiteral("Set ROMID = null in parameter input"));
    } else {
        romId = rom;
        log(QStringLiteral("Set ROMID = ") + rom + QStringLiteral(" in parameter input"));
    }

    const QString verb = args[0].toLower();
    const qsizetype n = args.size();
    if (verb == QStringLiteral("put") || verb == QStringLiteral("set")) {
        if (verb == QStringLiteral("put"))
            PutMode = true;
        if (n == 4)
            return;
        if (n == 5) {
            if (args[4].toLower() == kLog) {
                ParamLog = true;
            } else {
                useSingleFile(args[4]);
                view_.setUpdateFileNameText(args[4] + QStringLiteral(";"));
            }
            return;
        }
        if (n == 6) {
            if (args[4].toLower() != kLog) {
                useSingleFile(args[4]);
                view_.setUpdateFileNameText(args[4] + QStringLiteral(";"));
            }
            if (args[5].toLower() == kLog)
                ParamLog = true;
            else
                parameterError();
            return;
        }
        parameterError();
        return;
    }
    if (verb == QStringLiteral("get") && n == 7) {
        if (!fitsReadBackField(args[4], SettingsRecord::GetOffset) ||
            !fitsReadBackField(args[5], SettingsRecord::GetLength) ||
            !fitsReadBackField(args[6], SettingsRecord::GetOutputName)) {
            parameterError();
            return;
        }
        if (const QString why = RomReadBackEngine::RomTextsError(args[4], args[5]);
            !why.isEmpty()) {
            log(why);
            parameterError();
            return;
        }
        settings.setGetText(SettingsRecord::GetOffset, args[4].toLatin1());
        settings.setGetText(SettingsRecord::GetLength, args[5].toLatin1());
        settings.setGetText(SettingsRecord::GetOutputName, args[6].toLatin1());
        view_.setUpdateFileNameText(args[6] + QStringLiteral(";"));
        GetMode = true;
        view_.setCaption(kReadBackCaption);
        return;
    }
    parameterError();
}

void MainWindowLogic::parameterError() {
    view_.setIpText(QString());
    view_.setPasswordText(QString());
    view_.setUpdateFileNameText(QString());
    romId = kDefaultRomId;
    ParamMode = ParamLog = GetMode = PutMode = KeepPassword = false;
    // A file named before the error is not kept either.
    HaveUpgradeFile = 0;
    extractionCopy.clear();
    log(kParameterError);
}

void MainWindowLogic::FormActivate() {
    SetLayout(4);
    if (ParamMode) {
        search_.SetSearchSettings(0xFF, romId, kDefault, kDefault, kDefault, kDefault);
        if (!view_.ipText().isEmpty()) {
            probe(FirstWord(view_.ipText()));
            FillDeviceList();
            IPComBoxChange();
        }
        if (ParamLog) {
            SetLayout(6);
            LogShown = true;
            ListDetail = 222;
        }
        if (PutMode) {
            AutoStart = true;
            Interactive = false;
        }
        if (GetMode || AutoStart)
            view_.startStopTimer();
        ParamMode = false;
        return;
    }

    switch (ReadSettings()) {
    case -1:
        exitStatus = ExitStatus::StartupEnded;
        view_.terminateApplication();
        view_.releaseWindow();
        break;
    case 0:
        AutoStart = false;
        Interactive = true;
        IPReFreshClick();
        IPComBoxChange();
        break;
    case 1:
        AutoStart = true;
        Interactive = false;
        IPComBoxChange();
        view_.startStopTimer();
        break;
    case 2:
        view_.setCaption(kReadBackCaption);
        GetMode = true;
        view_.startStopTimer();
        break;
    case 3:
        AutoStart = false;
        Interactive = true;
        FillDeviceList();
        if (!view_.ipItems().isEmpty())
            IPComBoxChange();
        else
            IPReFreshClick();
        break;
    default:
        break;
    }
}

// A put that starts by itself keeps the settings' password for the router it names.
int MainWindowLogic::unattendedPut(int startCode) {
    KeepPassword = startCode == 1 && !view_.passwordText().isEmpty();
    return startCode;
}

int MainWindowLogic::ReadSettings() {
    for (int i = 0; i < extractionCopy.count; ++i) {
        const ExtractionEntry entry = extractionCopy[i];
        if (!(entry.attribute & AttrSettingsFile))
            continue;

        QFile file(entry.path);
        QByteArray bytes;
        bool ok = file.open(QIODevice::ReadOnly);
        if (ok) {
            bytes = file.read(SettingsRecord::Size);
            ok = file.error() == QFileDevice::NoError;
            file.close();
        }
        if (!ok) {
            view_.sinks().showBox(
                QStringLiteral("Read file : ") + entry.path + QStringLiteral(" error!"),
                QStringLiteral("Function Error"), BoxButtons::YesNoCancel, BoxIcon::Error);
            return -1;
        }
        settings.overlay(bytes);

        search_.SetSearchSettings(settings.settingFlags(), settings.romId(), settings.defaultIP(1),
                                  settings.defaultIP(2), settings.defaultIP(3),
                                  settings.defaultIP(4));

        view_.setIpText(settings.dstIP());
        if (!view_.ipText().isEmpty())
            probe(settings.dstIP());
        log(QStringLiteral("Set DstIP = ") + settings.dstIP());
        registerSecret(settings.passWd());
        view_.setPasswordText(settings.passWd());
        log(QStringLiteral("Set PassWd = ") + maskedSecret(settings.passWd()));
        log(QStringLiteral("Set ROMID = ") + settings.romId());

        if (settings.windowCaption() != kDefault)
            view_.setCaption(settings.windowCaption());

        if (const qint8 t = settings.timeOut(); t > 0) {
            StopLimit = quint16(t);
            log(QStringLiteral("Set Time out value to : ") + QString::number(t));
        } else if (t < 0) {
            // A negative limit would be a watchdog of 65000-odd seconds: refused.
            log(QStringLiteral("Time out value out of range : ") + QString::number(t));
        }

        switch (settings.methodOrder()) {
        case 0:
            log(QStringLiteral("default sequence of upgrade method used."));
            OrderFromSettings = false;
            break;
        case 1:
            log(QStringLiteral("HTTP upgrade method first used."));
            OrderFromSettings = true;
            break;
        case 2:
            log(QStringLiteral("FTP upgrade method first used."));
            OrderFromSettings = true;
            break;
        case 3:
            log(QStringLiteral("TFTP upgrade method first used."));
            OrderFromSettings = true;
            break;
        default:
            break;
        }

        if (releaseToUser()) {
            log(QStringLiteral("Program release to User"));
        } else {
            log(QStringLiteral("Program release to Factory"));
            FactoryRelease = true;
        }
        if (logEnabled())
            log(QStringLiteral("Enabled Log state by initial setting"));
        if (settings.settingFlags() & SettingsRecord::SectionIdCheck) {
            SectionCheck = true;
            log(QStringLiteral("Enabled Section ID check."));
        } else {
            log(QStringLiteral("Disnabled Section ID check."));
        }

        sectionList = package ? package->SectionList() : QString();
        log(QStringLiteral("Total section list : ") + sectionList);

        const QString fileName = settings.fileName();
        const bool fileGiven = !fileName.isEmpty();
        switch (settings.startMode()) {
        case 2: // put
            if (fileGiven) {
                useSingleFile(fileName);
                view_.setUpdateFileNameText(fileName + QStringLiteral(" ;"));
                log(QStringLiteral("Initial put upgrade file : ") + view_.updateFileNameText());
                return unattendedPut(view_.ipText().isEmpty() ? 0 : 1);
            }
            if (view_.ipText().isEmpty())
                return 0;
            return unattendedPut(HaveUpgradeFile == 1 ? 1 : 3);
        case 1: // get: FileName holds the output name first
            if (fileGiven) {
                HaveUpgradeFile = 1;
                view_.setUpdateFileNameText(settings.getText(SettingsRecord::GetOutputName) +
                                            QStringLiteral(" ;"));
                return 2;
            }
            if (HaveUpgradeFile == 0)
                return 0;
            break;
        case 4: // set
            if (fileGiven) {
                useSingleFile(fileName);
                view_.setUpdateFileNameText(fileName + QStringLiteral(" ;"));
                log(QStringLiteral("Initial set upgrade file : ") + view_.updateFileNameText());
            }
            return 3;
        default:
            view_.sinks().showBox(QStringLiteral("Not Support Method Error"),
                                  QStringLiteral("Function Waring"), BoxButtons::OkCancel,
                                  BoxIcon::Warning);
            log(QStringLiteral("Not Support Method : ") +
                QString(QChar(ushort(settings.byte(SettingsRecord::StartMode)))));
            break;
        }
    }
    return 0;
}

} // namespace fw
