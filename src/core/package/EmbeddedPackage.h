#pragma once
// Reader of the package appended to the running executable: extracts every embedded file into a
// private directory inside the temporary directory and deletes them at destruction. GUI thread.

#include "transfer/ExtractionList.h"
#include "ui/Sinks.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <array>
#include <memory>

class QFile;

namespace fw {

class Sha256;
class TempDirectory;

class EmbeddedPackage {
public:
    static constexpr int MaxFiles = 64;

    struct FileEntry {
        QString storedName;
        qint32 type = 0; // 1 upgrade or other file, 2 message file
        quint16 attribute = 0;
        qint32 dataSize = 0;
    };

    // `sinks.box` shows the failure boxes; `sinks.messageWindow` shows message files in Menu
    // Mode. `tempBase` overrides the temporary directory (tests); empty = from the environment.
    explicit EmbeddedPackage(const Sinks& sinks, const QString& tempBase = QString());
    ~EmbeddedPackage();
    EmbeddedPackage(const EmbeddedPackage&) = delete;
    EmbeddedPackage& operator=(const EmbeddedPackage&) = delete;

    // A file did not match its digest: the box has been shown and every extracted file removed.
    static constexpr qint32 Damaged = -3;

    // -3 damaged, -2 unsupported format version, -1 error reported, 0 no package or no data
    // bytes, > 0 total data bytes extracted (the digest record is not extracted, nor counted).
    qint32 ReadinputExeFile(const QString& path);
    int ListToLog(LogSink& log) const;
    int CountUpgradeFiles() const;
    void CopyExtractionList(ExtractionList& copy) const;
    QString SectionList() const;

    const ExtractionList& extractionList() const { return extraction_; }
    int fileCount() const { return fileCount_; }
    const FileEntry& file(int i) const { return files_[size_t(i)]; }
    // The private directory the files were extracted into (empty before the first extraction).
    QString extractionDirectory() const { return dir_; }
    // The temporary directory the private directory is created in.
    QString temporaryDirectory() const { return tempBase_; }

    // A message file's data beyond this cannot belong to its record (125-byte header and a
    // 16-bit text length); only this much is handed to the message window.
    static constexpr qint64 MaxMessageBytes = 125 + 65535;

private:
    qint32 read_imbed_file(const QString& path);
    int Myfilecopy(QFile& source, const QByteArray& targetName);
    bool ensureDirectory();
    QString targetPath(const QByteArray& name) const;
    // Creates (replacing) a file in the private directory; -1 when it cannot.
    int createTarget(const QByteArray& name);
    qint32 readFailure();
    qint32 damaged(const QByteArray& storedName);
    void removeExtracted();
    char* copyBuffer();

    Sinks sinks_;
    QString tempBase_;
    QString dir_;
    std::unique_ptr<TempDirectory> tempDir_;
    int cleanupSlot_ = -1;
    QList<QByteArray> created_; // every name created in the private directory
    std::unique_ptr<char[]> buffer_;
    std::unique_ptr<Sha256> hash_;
    std::array<FileEntry, MaxFiles> files_{};
    int fileCount_ = 0;
    ExtractionList extraction_;
};

} // namespace fw
