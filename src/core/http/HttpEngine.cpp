#include "http/HttpEngine.h"

#include "net/RomStretch.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <thread>

namespace fw {

namespace {

constexpr char kBoundary[] = "-----------------123456789";
constexpr char kUpgrading[] = "Upgrading! Do NOT exit or power off the device.";
QString latin1(const QByteArray& b) {
    return QString::fromLatin1(b);
}

} // namespace

HttpEngine::HttpEngine() = default;
HttpEngine::~HttpEngine() = default;

void HttpEngine::useSinks(const Sinks& sinks) {
    sinks_ = sinks;
    socket_.setBoxSink(sinks.box);
}

void HttpEngine::prepareSelection(const Sinks& sinks, const ExtractionList& files,
                                  const QString& romId) {
    useSinks(sinks);
    selector_ = std::make_unique<FileSelector>(files, romId, FileChoiceRules::http(), sinks);
}

qint64 HttpEngine::UploadLength() {
    if (!selector_)
        return -1;
    const qint64 total = selector_->UploadLength();
    if (total < 0)
        resultText = selector_->resultText;
    return total;
}

int HttpEngine::SelectNextFile(int start, bool verbose) {
    if (!selector_)
        return FileSelector::NoFiles;
    const int r = selector_->SelectNextFile(start, verbose);
    sentSections = selector_->sentSections;
    if (verbose && !selector_->resultText.isEmpty())
        resultText = selector_->resultText;
    return r;
}

QByteArray HttpEngine::PartHeader() {
    QByteArray h;
    h += kBoundary;
    h += "\r\n";
    // "from-data" and the trailing blanks are what the router's parser expects.
    h += "Content-Disposition: from-data; name=\"FN\"; filename=\"upgrade.bin\" \r\n";
    h += "Content-Type: application/octet-stream \r\n";
    h += "\r\n";
    return h;
}

QByteArray HttpEngine::EndMarker() {
    return QByteArrayLiteral("\r\n----\r\n");
}

QByteArray HttpEngine::BuildUploadHeader(qint64 totalLength) {
    const qint64 contentLength = totalLength + PartHeader().size() + EndMarker().size();
    QByteArray h;
    h += "POST /upg HTTP/1.0\r\n";
    h += "User-Agent: Quarnel_Agent\r\n";
    h += "Connection: Keep-Alive\r\n";
    // A colon, not a semicolon, after the media type: the router reads it that way.
    h += "Content-Type: multipart/form-data: boundary=";
    h += kBoundary;
    h += "\r\n";
    h += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    h += "\r\n";
    h += PartHeader();
    return h;
}

bool HttpEngine::connectToRouter(const QString& routerIp, quint16 port) {
    if (socket_.OpenSocket() < 0) {
        sinks_.logLine(socket_.lastError);
        resultText = socket_.lastError;
        return false;
    }
    if (socket_.ConnectTo(routerIp, port) < 0) {
        sinks_.logLine(socket_.lastError);
        sinks_.setStatus(QStringLiteral("Connect to router failure"));
        resultText = socket_.lastError;
        return false;
    }
    sinks_.setStatus(QStringLiteral("Connecting to router"));
    return true;
}

int HttpEngine::UploadFirmware(StopCounter& stopCounter, const Sinks& sinks,
                               const ExtractionList& files, const QString& routerIp, quint16 port,
                               const QString& romId) {
    filesSent = 0;
    sentSections.clear();
    prepareSelection(sinks, files, romId);

    if (!connectToRouter(routerIp, port))
        return -1;

    const qint64 total = UploadLength();
    if (total < 0) {
        sinks_.logLine(resultText);
        return -1;
    }
    sinks_.setProgressMaximum(total);
    sinks_.setProgressPosition(0);

    if (socket_.SendData(BuildUploadHeader(total), sinks_.progress) < 0) {
        sinks_.logLine(socket_.lastError);
        resultText = socket_.lastError;
        return -1;
    }
    sinks_.setStatus(QString::fromLatin1(kUpgrading));
    selector_->skipDefault = false;
    currentIndex_ = -1;

    for (;;) {
        const int next = SelectNextFile(currentIndex_ + 1, true);
        if (next == FileSelector::NoMoreFiles) {
            sinks_.logLine(QStringLiteral("Total upgrade file count in HTTP mode: ") +
                           QString::number(filesSent));
            std::this_thread::sleep_for(ReplyPause);
            return CheckUploadResult();
        }
        if (next == FileSelector::NoFiles) {
            resultText = QStringLiteral("HTTP upgrade Failure !");
            return -1;
        }
        if (next < 0) {
            resultText = QStringLiteral("Open upgrade file error !");
            return -1;
        }
        currentIndex_ = qint16(next);
        // The end marker follows the last file directly, so look one selection ahead.
        const bool last = SelectNextFile(currentIndex_ + 1, false) == FileSelector::NoMoreFiles;
        const qint64 sent = sendFile(files[currentIndex_].path, last);
        if (sent < 0)
            return -1;
        stopCounter = 0;
        ++filesSent;
        sinks_.logLine(QStringLiteral("Send Bin File Length : ") + QString::number(sent));
    }
}

qint64 HttpEngine::sendFile(const QString& path, bool last) {
    auto lengthError = [&] {
        resultText = QStringLiteral("Upgrade File Length Error.");
        sinks_.logLine(resultText);
        return qint64(-1);
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lengthError();
    const qint64 size = file.size();
    if (size < 0)
        return lengthError();
    if (last)
        sinks_.logLine(QStringLiteral("Send end char"));

    const QByteArray marker = EndMarker();
    QByteArray buffer(qsizetype(std::min(size, StreamChunkSize) + marker.size()), '\0');
    qint64 remaining = size;
    qint64 sentTotal = 0;
    do {
        const qint64 want = std::min(remaining, StreamChunkSize);
        // A file that shrank since its size was counted would break the announced length.
        if (want > 0 && file.read(buffer.data(), want) != want)
            return lengthError();
        remaining -= want;
        qint64 length = want;
        if (remaining == 0 && last) {
            std::memcpy(buffer.data() + length, marker.constData(), size_t(marker.size()));
            length += marker.size();
        }
        if (length == 0)
            break;
        const qint64 n = socket_.SendData(buffer.constData(), length, sinks_.progress);
        if (n < 0) {
            sinks_.logLine(QStringLiteral("Error :") + socket_.lastError);
            resultText = socket_.lastError;
            return -1;
        }
        sentTotal += n;
    } while (remaining > 0);
    return sentTotal;
}

int HttpEngine::CheckUploadResult() {
    QByteArray reply;
    if (socket_.ReceiveToBuffer(reply, ReplyCapacity) < 0) {
        sinks_.logLine(QStringLiteral("receive response error 8"));
        resultText = QStringLiteral("receive response error in upgrade 9");
        sinks_.setStatus(QStringLiteral("Upgrade Failure"));
        return -1;
    }
    const UploadVerdict v = ClassifyUploadReply(reply);
    if (v.badRequestBox)
        sinks_.showBox(QStringLiteral("error 00"), QStringLiteral("File Error"),
                       BoxButtons::OkCancel);
    sinks_.logLine(v.logLine);
    resultText = v.resultText;
    if (!v.status.isEmpty())
        sinks_.setStatus(v.status);
    return v.result;
}

HttpEngine::UploadVerdict HttpEngine::ClassifyUploadReply(const QByteArray& reply) {
    const auto verdict = [](int result, const QString& log, const QString& text,
                            const QString& status) {
        return UploadVerdict{result, false, log, status, text};
    };
    const QString failureStatus = QStringLiteral("Upgrade failure");
    const qsizetype cas = reply.indexOf("--CAS");
    if (cas >= 0) {
        const QString code = latin1(reply.mid(cas + 6, 4));
        if (code == QLatin1String("8000"))
            return verdict(1, QStringLiteral("Upgrade success in New version"),
                           QStringLiteral("Upgrade Successfully"),
                           QStringLiteral("Upgrade Success"));
        if (code == QLatin1String("8001"))
            return verdict(-1, QStringLiteral("Upgrade failure in New version"),
                           QStringLiteral("Upgrade failure"), failureStatus);
        if (code == QLatin1String("8002")) {
            const QString unallowable = QStringLiteral("Unallowable upgrade file");
            return verdict(-1, unallowable, unallowable, unallowable);
        }
        return verdict(-1, QStringLiteral("unknow error code : ") + code,
                       QStringLiteral("unknow error code ") + code, failureStatus);
    }

    if (reply.contains(" 200 OK")) {
        const qsizetype alert = reply.indexOf("alert");
        if (alert >= 0) {
            // After the word, an opening parenthesis and a double quote.
            const qsizetype from = std::min<qsizetype>(alert + 7, reply.size());
            qsizetype to = reply.indexOf('"', from);
            if (to < 0)
                to = reply.size();
            return verdict(-1, QStringLiteral("Upgrade failure with no CAS tag"),
                           latin1(reply.mid(from, std::min<qsizetype>(to - from, MaxAlertLength))),
                           QStringLiteral("Upgrade Failure"));
        }
        return verdict(1, QStringLiteral("Upgrade Complete in with no CAS tag"),
                       QStringLiteral("Upgrade Successfully"), QStringLiteral("Upgrade Success"));
    }

    UploadVerdict v;
    v.resultText = QStringLiteral("Unexpect receive data");
    if (reply.contains(" 301 ")) {
        v.logLine = QStringLiteral("Unexpect remove port request");
    } else if (reply.contains(" 400 ")) {
        v.badRequestBox = true;
        v.logLine = QStringLiteral("Unexpect Bad request");
    } else if (reply.contains(" 404 ")) {
        v.logLine = QStringLiteral("Unexpect NO CGI Found");
    } else if (reply.contains(" 401 ")) {
        v.logLine = QStringLiteral("Peer ask for authenticate 2");
    } else if (reply.contains(" 501 ")) {
        v.logLine = QStringLiteral("Unexpect NOT support HTTP Upgrade");
    } else if (reply.contains(" 503 ")) {
        v.logLine = QStringLiteral("Unexpect upgrade Not Complete error");
    } else {
        v.logLine = QStringLiteral("Unknow Error in check upgrade result");
    }
    return v;
}

int HttpEngine::ConnectAndSend(const QByteArray& request, const QString& routerIp, quint16 port) {
    if (socket_.OpenSocket() < 0 || socket_.ConnectTo(routerIp, port) < 0 ||
        socket_.SendData(request) < 0) {
        resultText = socket_.lastError;
        return -1;
    }
    return 1;
}

int HttpEngine::ReceiveResponse(QByteArray& reply, int capacity) {
    const int n = socket_.ReceiveToBuffer(reply, capacity);
    if (n < 0)
        resultText = socket_.lastError;
    return n;
}

int HttpEngine::HttpGetRom(const Sinks& sinks, const QString& routerIp, quint16 port,
                           const QString& destPath, const QString& /*password*/, qint32 /*offset*/,
                           qint32 length, const QString& oText, const QString& lText) {
    useSinks(sinks);
    // The values go into the request line as they are: anything but visible ASCII would change
    // the request, and the router's buffer holds at most 29 characters of them.
    auto plain = [](const QString& s) {
        for (QChar c : s) {
            if (c.unicode() <= 0x20 || c.unicode() >= 0x7F)
                return false;
        }
        return true;
    };
    if (oText.size() + lText.size() > MaxRomQueryLength || !plain(oText) || !plain(lText)) {
        resultText = QStringLiteral("ROM read offset and length do not fit the request");
        sinks_.logLine(resultText);
        return -1;
    }
    const QByteArray request =
        "GET /config.bin?O=" + oText.toLatin1() + "&L=" + lText.toLatin1() + " HTTP/1.1\r\n\r\n";

    if (!connectToRouter(routerIp, port))
        return -1;
    // A negative length (a "-" in the settings text) is no bar maximum.
    sinks_.setProgressMaximum(std::max<qint32>(length, 0));
    sinks_.setProgressPosition(0);
    sinks_.logLine(QStringLiteral("Prepare to send get command: \n"));
    sinks_.logLine(latin1(request));
    if (socket_.SendData(request) < 0) {
        sinks_.logLine(socket_.lastError);
        resultText = socket_.lastError;
        return -1;
    }
    // Exactly the stretch asked for: never more is written, less is a failure.
    qint64 excess = 0;
    if (socket_.ReceiveToFile(destPath, sinks_.progress, std::max<qint32>(length, 0), &excess) <
        0) {
        sinks_.logLine(socket_.lastError);
        resultText = socket_.lastError;
        return -1;
    }
    if (excess > 0)
        sinks_.logLine(RomStretch::offeredMoreText(excess, length));
    if (const qint64 got = QFileInfo(destPath).size(); got < length) {
        resultText = RomStretch::cutShortText(got, length);
        sinks_.logLine(resultText);
        return -1;
    }
    sinks_.logLine(QStringLiteral("Get ROM file success in file : ") + destPath);
    resultText = QStringLiteral("Get ROM file success");
    return 1;
}

} // namespace fw
