// The package reader over a hostile executable: whatever the trailer and records say, every file
// is written inside the private directory, no file is larger than the executable, at most 64
// files are listed, the body copy is a prefix of the executable, and destruction leaves nothing.
// A package refused by its digest has nothing extracted left at once and said so in one box.

#include "FuzzSupport.h"
#include "package/EmbeddedPackage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace fw;
using fw::fuzz::require;

namespace {

struct Dirs {
    QTemporaryDir input;
    QTemporaryDir temp; // the temporary directory the reader makes its private one in
};

Dirs& dirs() {
    static Dirs* d = new Dirs;
    return *d;
}

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                               QDir::System);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ensureApp();
    require(dirs().input.isValid() && dirs().temp.isValid(), "temporary directories");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray exe = fuzz::bytesOf(data, size);
    const QString exePath = dirs().input.filePath(QStringLiteral("fwupgrade"));
    {
        QFile f(exePath);
        require(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(exe) == exe.size(),
                "input written");
    }
    const QString base = dirs().temp.path();
    fuzz::RecordingSinks rec;
    {
        EmbeddedPackage reader(rec.sinks(), base);
        const qint32 result = reader.ReadinputExeFile(exePath);
        require(result >= EmbeddedPackage::Damaged, "result is -3, -2, -1, 0 or a byte count");
        if (result == EmbeddedPackage::Damaged) {
            require(reader.extractionList().count == 0, "a damaged package lists nothing");
            require(entriesOf(reader.extractionDirectory()).isEmpty(),
                    "a damaged package leaves nothing extracted");
            require(rec.boxes.size() == 1, "a damaged package shows one box");
        }
        require(result <= qint64(size), "no more data bytes than the executable holds");
        require(reader.fileCount() <= EmbeddedPackage::MaxFiles, "at most 64 files");
        const ExtractionList& list = reader.extractionList();
        require(list.count <= ExtractionList::Capacity, "at most 65 list entries");

        const QString privateDir = reader.extractionDirectory();
        require(!privateDir.isEmpty(), "a private directory");
        require(QFileInfo(privateDir).absolutePath() == QFileInfo(base).absoluteFilePath(),
                "the private directory lies in the temporary directory");
        require(entriesOf(base) == QStringList{QFileInfo(privateDir).fileName()},
                "nothing but the private directory in the temporary directory");
        for (int i = 0; i < list.count; ++i) {
            const QFileInfo entry(list[i].path);
            require(entry.absolutePath() == QFileInfo(privateDir).absoluteFilePath(),
                    "every extracted path lies in the private directory");
            require(!entry.isSymLink(), "no extracted path is a link");
        }
        for (const QString& name : entriesOf(privateDir)) {
            const QFileInfo f(privateDir + QLatin1Char('/') + name);
            require(f.isFile() && !f.isSymLink(), "only plain files in the private directory");
            require(f.size() <= qint64(size), "no extracted file larger than the executable");
            QFile extracted(f.filePath());
            require(extracted.open(QIODevice::ReadOnly) && exe.contains(extracted.readAll()),
                    "an extracted file holds the executable's own bytes");
        }
        if (list.count > 0) {
            QFile body(list[0].path);
            if (body.open(QIODevice::ReadOnly))
                require(exe.startsWith(body.readAll()), "the body copy is the executable's head");
        }
        qint64 sum = 0;
        for (int i = 0; i < reader.fileCount(); ++i)
            sum += reader.file(i).dataSize;
        require(sum <= qint64(size), "the records' data fit in the executable");
    }
    require(entriesOf(base).isEmpty(), "every extracted file and the directory are removed");
    return 0;
}
