#pragma once
// Reader of the package appended to the running executable: extracts every embedded file into a
// private directory inside the temporary directory and deletes them at destruction. GUI thread.

#include "package/ExtractionList.h"
#include "ui/Sinks.h"

#include <QString>
#include <QtGlobal>
#include <array>

namespace fw {

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

    // -2 unsupported format version, -1 error reported, 0 no package or no data bytes,
    // > 0 total data bytes extracted.
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

private:
    Sinks sinks_;
    QString tempBase_;
    QString dir_;
    std::array<FileEntry, MaxFiles> files_{};
    int fileCount_ = 0;
    ExtractionList extraction_;
};

} // namespace fw
