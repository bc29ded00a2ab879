#include "package/EmbeddedPackage.h"

#include "package/ExtractionCleanup.h"
#include "package/MessageSelection.h"
#include "package/PackageFormat.h"
#include "package/Sha256.h"
#include "package/TempDirectory.h"
#include "transfer/FileAttributes.h"

#include <QFile>
#include <QtEndian>
#include <limits>

namespace fw {

namespace pf = PackageFormat;

namespace {

const QString kTmpSuffix = QStringLiteral(".tmp");

// Texts of the boxes.
const QString kExeOpenError = QStringLiteral("Error to open exeFile : ");
const QString kFunctionError = QStringLiteral("Function Error");
const QString kVersionText = QStringLiteral("Please change append tool to version V1.23.");
const QString kVersionCaption = QStringLiteral("Version Not support");
const QString kCopyError = QStringLiteral("Myfilecopy function error >> ");
const QString kReadinputException = QStringLiteral("Error to open file in ReadinputExeFile!!!");
const QString kFileError = QStringLiteral("File Error");
const QString kImbedOpenError = QStringLiteral("Open Imbeded file : ");
const QString kImbedOpenErrorTail = QStringLiteral("error");
const QString kFuntionError = QStringLiteral("Funtion Error");
const QString kMaxFiles = QStringLiteral("Max Add File is 64");
const QString kMaxFilesCaption = QStringLiteral("Add AppendFile Error");
const QString kCreateError = QStringLiteral("File create error ");
const QString kCreateErrorCaption = QStringLiteral("File create error");
const QString kWriteError = QStringLiteral("Write tmp file Error. Check Disk space !");
const QString kReadException = QStringLiteral("Error to open file in read_imbed_file function");
const QString kDamaged = QStringLiteral("The package is damaged: %1 does not match its digest");
const QString kDamagedCaption = QStringLiteral("Package Error");
const QString kNoDigest =
    QStringLiteral("The package carries no digest: its files are extracted unchecked");

constexpr qint32 Failed = -1;
constexpr qint32 Unsupported = -2;

// Reads exactly `size` bytes at `pos`.
bool readAt(QFile& file, qint64 pos, char* into, qint64 size) {
    return file.seek(pos) && file.read(into, size) == size;
}

// Wraps a descriptor from TempDirectory for unbuffered writes; closes it when that fails.
bool openTarget(QFile& target, int fd) {
    if (target.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return true;
    TempDirectory::closeFile(fd);
    return false;
}

} // namespace

EmbeddedPackage::EmbeddedPackage(const Sinks& sinks, const QString& tempBase)
    : sinks_(sinks), tempBase_(TempDirectory::base(tempBase)) {}

EmbeddedPackage::~EmbeddedPackage() {
    removeExtracted();
    if (tempDir_ && tempDir_->isOpen())
        tempDir_->removeDirectory();
    ExtractionCleanup::unregisterDirectory(cleanupSlot_);
}

void EmbeddedPackage::removeExtracted() {
    // Every listed path lies in the private directory and was recorded when it was created;
    // so was a file that failed half-way and never got listed.
    if (tempDir_ && tempDir_->isOpen())
        for (const QByteArray& name : std::as_const(created_))
            if (tempDir_->removeFile(name))
                ExtractionCleanup::unregisterFile(cleanupSlot_, name);
    created_.clear();
}

bool EmbeddedPackage::ensureDirectory() {
    if (tempDir_ && tempDir_->isOpen())
        return true;
    tempDir_ = std::make_unique<TempDirectory>();
    if (!tempDir_->createPrivate(tempBase_))
        return false;
    dir_ = tempDir_->path();
    cleanupSlot_ = ExtractionCleanup::registerDirectory(tempDir_->nativePath());
    return true;
}

QString EmbeddedPackage::targetPath(const QByteArray& name) const {
    const QString dir = dir_.isEmpty() ? tempBase_ : dir_;
    return dir + QLatin1Char('/') + QFile::decodeName(name);
}

int EmbeddedPackage::createTarget(const QByteArray& name) {
    if (!tempDir_ || !tempDir_->isOpen())
        return -1;
    // Recorded before it exists, so that a signal in between still removes it.
    ExtractionCleanup::registerFile(cleanupSlot_, name);
    if (!created_.contains(name))
        created_.append(name);
    return tempDir_->createFile(name, true);
}

char* EmbeddedPackage::copyBuffer() {
    if (!buffer_)
        buffer_ = std::make_unique<char[]>(size_t(pf::CopyBufferSize));
    return buffer_.get();
}

qint32 EmbeddedPackage::readFailure() {
    sinks_.showBox(kReadException, kFileError, BoxButtons::OkCancel);
    return Failed;
}

qint32 EmbeddedPackage::damaged(const QByteArray& storedName) {
    // Nothing of a damaged package may be used: the files go before anyone can pick one.
    removeExtracted();
    extraction_.clear();
    fileCount_ = 0;
    sinks_.showBox(kDamaged.arg(QString::fromLatin1(storedName)), kDamagedCaption, BoxButtons::Ok,
                   BoxIcon::Error);
    return Damaged;
}

qint32 EmbeddedPackage::ReadinputExeFile(const QString& path) {
    ensureDirectory(); // a failure shows up when the first file cannot be created
    const QByteArray bodyName = QFile::encodeName(cutPath(path) + kTmpSuffix);
    const QString tempPath = targetPath(bodyName);

    QFile exe(path);
    if (!exe.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        sinks_.showBox(kExeOpenError + path, kFunctionError, BoxButtons::YesNoCancel);
        return Failed;
    }
    const qint64 size = exe.size();
    char last8[pf::SignatureSize];
    const bool signature = size >= pf::SignatureSize &&
                           readAt(exe, size - pf::SignatureSize, last8, pf::SignatureSize) &&
                           pf::hasSignature(QByteArray(last8, pf::SignatureSize));
    if (signature) {
        uchar version[2];
        if (size < pf::VersionFromEnd ||
            !readAt(exe, size - pf::VersionFromEnd, reinterpret_cast<char*>(version), 2)) {
            sinks_.showBox(kReadinputException, kFileError, BoxButtons::YesNoCancel);
            return Failed;
        }
        exe.close();
        if (qFromLittleEndian<quint16>(version) == pf::SupportedVersion)
            return read_imbed_file(path);
        sinks_.showBox(kVersionText, kVersionCaption, BoxButtons::Ok);
        return Unsupported;
    }
    if (!exe.seek(0) || Myfilecopy(exe, bodyName) < 0) {
        sinks_.showBox(kCopyError + tempPath, kFunctionError, BoxButtons::OkCancel);
        return Failed;
    }
    extraction_.append(tempPath, 0, 0);
    return 0;
}

int EmbeddedPackage::Myfilecopy(QFile& source, const QByteArray& targetName) {
    if (!source.isOpen())
        return -1;
    const int fd = createTarget(targetName);
    if (fd < 0)
        return -1;
    QFile target;
    if (!openTarget(target, fd))
        return -1;
    const bool copied = pf::streamCopy(source, target, source.size() - source.pos(),
                                       copyBuffer()) == pf::CopyResult::Ok;
    TempDirectory::makeOwnerWritable(fd);
    target.close();
    return copied ? 1 : -1;
}

qint32 EmbeddedPackage::read_imbed_file(const QString& path) {
    const QByteArray bodyName = QFile::encodeName(cutPath(path) + kTmpSuffix);
    const QString bodyPath = targetPath(bodyName);

    QFile exe(path);
    if (!exe.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        sinks_.showBox(kImbedOpenError + path + kImbedOpenErrorTail, kFuntionError,
                       BoxButtons::YesNoCancel);
        return Failed;
    }
    // Every length below comes from the file: each is checked against the file and the
    // package before it is used.
    const auto trailer = pf::readTrailer(exe, exe.size());
    if (!trailer)
        return readFailure();

    // The body copy.
    const int bodyFd = createTarget(bodyName);
    extraction_.append(bodyPath, 0, 0);
    if (bodyFd < 0)
        return Failed;
    {
        QFile body;
        if (!openTarget(body, bodyFd))
            return Failed;
        if (!exe.seek(0))
            return readFailure();
        const auto result = pf::streamCopy(exe, body, trailer->packageStart(), copyBuffer());
        TempDirectory::makeOwnerWritable(bodyFd);
        body.close();
        if (result == pf::CopyResult::ReadFailed)
            return readFailure();
        if (result == pf::CopyResult::WriteFailed) {
            sinks_.showBox(kWriteError, QString(), BoxButtons::YesOnly, BoxIcon::Error);
            return Failed;
        }
    }

    qint64 pos = trailer->packageStart();
    const qint64 trailerStart = trailer->trailerStart();
    // The digest record, when the package has one, comes first: every later record is checked
    // as it is extracted, before a message file is shown and before anything is sent.
    pf::DigestTable digests;
    int first = 0;
    if (trailer->count > 0) {
        const auto header = pf::readRecordHeader(exe, pos, trailerStart);
        if (!header)
            return readFailure();
        if (pf::claimsDigest(*header)) {
            if (!digests.load(exe, pos, *header, trailer->count))
                return damaged(header->storedName);
            pos += header->length;
            first = 1;
        }
    }
    if (!digests.present())
        sinks_.logLine(kNoDigest);
    else if (!hash_)
        hash_ = std::make_unique<Sha256>();
    Sha256* const hash = digests.present() ? hash_.get() : nullptr;
    qint64 total = 0;
    for (int i = first; i < trailer->count; ++i) {
        if (fileCount_ >= MaxFiles) {
            sinks_.showBox(kMaxFiles, kMaxFilesCaption, BoxButtons::YesNoCancel);
            return Failed;
        }
        const auto header = pf::readRecordHeader(exe, pos, trailerStart);
        if (!header || !pf::storedNameProblem(header->storedName).isEmpty())
            return readFailure();
        // The records must end exactly where the trailer begins: a layout fault, found before
        // the last record's digest could call it damage.
        if (i == trailer->count - 1 && pos + header->length != trailerStart)
            return readFailure();
        const quint16 attribute = header->attribute;
        const bool keepName = attribute & (AttrMessageFile | AttrKeepName);
        const QByteArray name = header->storedName + (keepName ? QByteArray() : ".tmp");
        // A record may not replace the program's own body copy.
        if (name == bodyName)
            return readFailure();
        const QString target = targetPath(name);

        const int fd = createTarget(name);
        extraction_.append(target, attribute, 1);
        if (fd < 0) {
            sinks_.showBox(kCreateError + target, kCreateErrorCaption, BoxButtons::OkCancel);
            return Failed;
        }
        QFile out;
        if (!openTarget(out, fd)) {
            sinks_.showBox(kCreateError + target, kCreateErrorCaption, BoxButtons::OkCancel);
            return Failed;
        }
        const qint64 dataSize = header->dataSize();
        const bool message = attribute & AttrMessageFile;
        QByteArray messageBytes;
        if (hash)
            pf::beginRecordDigest(*hash, *header);
        const auto result = exe.seek(pos + pf::RecordHeaderSize)
                                ? pf::streamCopy(exe, out, dataSize, copyBuffer(),
                                                 message ? &messageBytes : nullptr, MaxMessageBytes,
                                                 hash)
                                : pf::CopyResult::ReadFailed;
        TempDirectory::makeOwnerWritable(fd);
        out.close();
        if (result == pf::CopyResult::ReadFailed)
            return readFailure();
        if (result == pf::CopyResult::WriteFailed) {
            sinks_.showBox(kWriteError, QString(), BoxButtons::YesOnly, BoxIcon::Error);
            return Failed;
        }
        if (hash && hash->result() != digests.expected(i - first))
            return damaged(header->storedName);
        total += dataSize;
        if (message && sinks_.messageWindow)
            SelectAndShow(messageBytes, attribute, MessageMode::Menu, QString(), QString(), nullptr,
                          sinks_.messageWindow);
        files_[size_t(fileCount_++)] =
            FileEntry{QString::fromLatin1(header->storedName), message ? 2 : 1, attribute,
                      qint32(std::min<qint64>(dataSize, std::numeric_limits<qint32>::max()))};
        pos += header->length;
    }
    if (pos != trailerStart)
        return readFailure();
    return qint32(std::min<qint64>(total, std::numeric_limits<qint32>::max()));
}

int EmbeddedPackage::ListToLog(LogSink& log) const {
    for (int i = 0; i < extraction_.count; ++i) {
        log.appendLog(QStringLiteral("Imbed file ") + QString::number(i) + QStringLiteral(" : ") +
                      extraction_[i].path);
        log.appendLog(QStringLiteral("Imbed File Attrib : ") +
                      QString::number(extraction_[i].attribute));
    }
    return extraction_.count;
}

int EmbeddedPackage::CountUpgradeFiles() const {
    int n = 0;
    for (int i = 0; i < extraction_.count; ++i)
        n += (extraction_[i].attribute & AttrUpgradeFile) ? 1 : 0;
    return n;
}

void EmbeddedPackage::CopyExtractionList(ExtractionList& copy) const {
    for (int i = 0; i < extraction_.count; ++i)
        copy.entries[size_t(i)] = extraction_.entries[size_t(i)];
    copy.count = extraction_.count;
}

QString EmbeddedPackage::SectionList() const {
    QString letters;
    for (int i = 0; i < extraction_.count; ++i)
        AddSectionLetter(letters, extraction_[i].attribute);
    return letters;
}

} // namespace fw
