#include "message/MessageRecord.h"
#include "package/EmbeddedPackage.h"
#include "package/PackageFormat.h"
#include "settings/SettingsRecord.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace fw;

namespace {

constexpr int kProcessTimeoutMs = 30000;

class CountingBox : public BoxSink {
public:
    BoxAnswer showBox(const QString& text, const QString&, BoxButtons, BoxIcon) override {
        texts.append(text);
        return BoxAnswer::Ok;
    }
    QStringList texts;
};

class CountingWindow : public MessageWindowSink {
public:
    void showMessageWindow(const MessageRecord& r) override { captions.append(r.caption); }
    QList<QByteArray> captions;
};

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class FwpackTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "fwpack_tool_test";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }

    void SetUp() override {
        const QByteArray buildDir = qgetenv("FW_BUILD_DIR");
        if (buildDir.isEmpty())
            GTEST_SKIP() << "FW_BUILD_DIR is not set (run through ctest)";
        tool = QFile::decodeName(buildDir) + QStringLiteral("/tools/fwpack/fwpack");
        ASSERT_TRUE(QFileInfo(tool).isExecutable()) << tool.toStdString();
        ASSERT_TRUE(dir.isValid());
        base = file(QStringLiteral("base"), QByteArray("\x7f"
                                                       "ELF base executable",
                                                       20));
        ASSERT_TRUE(QFile::setPermissions(base, QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadGroup |
                                                    QFile::ExeGroup));
    }

    QString file(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return path;
    }

    QByteArray contents(const QString& name) const {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    ToolRun run(const QStringList& args) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(tool, args);
        ToolRun r;
        if (!p.waitForFinished(kProcessTimeoutMs)) {
            p.kill();
            p.waitForFinished(kProcessTimeoutMs);
            ADD_FAILURE() << "fwpack did not finish: " << args.join(' ').toStdString();
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // Reads a package with the program's reader; returns its result.
    qint32 readWithProgram(const QString& name) {
        boxes.texts.clear();
        windows.captions.clear();
        Sinks sinks;
        sinks.box = &boxes;
        sinks.messageWindow = &windows;
        reader = std::make_unique<EmbeddedPackage>(sinks, temp.path());
        return reader->ReadinputExeFile(dir.filePath(name));
    }

    QStringList entries() const {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QString tool;
    QTemporaryDir dir;
    QTemporaryDir temp;
    QString base;
    CountingBox boxes;
    CountingWindow windows;
    std::unique_ptr<EmbeddedPackage> reader;
};

TEST_F(FwpackTest, HelpDescribesEveryCommand) {
    const ToolRun r = run({QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* part :
         {"create -o OUT BASE FILE[:ATTR[:NAME]]...", "list FILE", "verify PROGRAM",
          "extract [--force] FILE DIR",
          "settings -o OUT", "message -o OUT", "--malformed KIND", "record-length-short"})
        EXPECT_TRUE(r.out.contains(QLatin1String(part))) << part;
    EXPECT_EQ(run({}).exitCode, 2);
    EXPECT_EQ(run({QStringLiteral("frob")}).exitCode, 2);
}

TEST_F(FwpackTest, PackageBuiltByTheToolIsReadByTheProgram) {
    ASSERT_EQ(run({"settings", "-o", "control.cfg", "--dst-ip", "192.168.1.1", "--password",
                   "secret", "--start-mode", "put", "--flags", "0x3A"})
                  .exitCode,
              0);
    file(QStringLiteral("text.rtf"), "{\\rtf1 Do not switch off.}");
    ASSERT_EQ(run({"message", "-o", "note.msg", "--text", "text.rtf", "--name", "QEMOwarn",
                   "--caption", "Warning", "--live-time", "30", "--mode1", "1", "--mode2", "1",
                   "--colour", "0x00FFFF", "--no-blink"})
                  .exitCode,
              0);
    const QByteArray code(70000, 'c');
    file(QStringLiteral("code.bin"), code);
    const ToolRun r = run({"create", "-o", "fwupgrade", "base", "control.cfg:settings", "code.bin",
                           "note.msg:message,default", "code.bin:0x0822:ABC123.bin"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QFileInfo(dir.filePath(QStringLiteral("fwupgrade"))).permissions() &
                  (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther),
              QFile::ExeOwner | QFile::ExeGroup);

    const qint32 total = readWithProgram(QStringLiteral("fwupgrade"));
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(' ').toStdString();
    const QByteArray message = contents(QStringLiteral("note.msg"));
    EXPECT_EQ(total, 224 + 2 * code.size() + message.size());
    const ExtractionList& list = reader->extractionList();
    ASSERT_EQ(list.count, 5);
    EXPECT_EQ(QFileInfo(list[1].path).fileName(), QStringLiteral("control.cfg.tmp"));
    EXPECT_EQ(list[1].attribute, 0x1000);
    EXPECT_EQ(list[2].attribute, 0x080D);
    EXPECT_EQ(QFileInfo(list[3].path).fileName(), QStringLiteral("note.msg"));
    EXPECT_EQ(list[3].attribute, 0x0401);
    EXPECT_EQ(QFileInfo(list[4].path).fileName(), QStringLiteral("ABC123.bin.tmp"));
    EXPECT_EQ(reader->SectionList(), QStringLiteral("B"));
    EXPECT_EQ(windows.captions, QList<QByteArray>{"Warning"});

    QFile settingsFile(list[1].path);
    ASSERT_TRUE(settingsFile.open(QIODevice::ReadOnly));
    SettingsRecord s;
    s.overlay(settingsFile.readAll());
    EXPECT_EQ(s.dstIP(), QStringLiteral("192.168.1.1"));
    EXPECT_EQ(s.passWd(), QStringLiteral("secret"));
    EXPECT_EQ(s.startMode(), 2);
    EXPECT_EQ(s.settingFlags(), 0x3A);
    EXPECT_EQ(s.defaultIP(3), QStringLiteral("default"));
    EXPECT_EQ(s.windowCaption(), QStringLiteral("default"));
    EXPECT_EQ(s.methodOrder(), 2);

    const auto m = MessageRecord::parse(message);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->name, QByteArray("QEMOwarn"));
    EXPECT_EQ(m->liveTime, 30);
    EXPECT_EQ(m->colour, 0x00FFFFu);
    EXPECT_EQ(m->noBlink, 1);
    EXPECT_EQ(m->text, QByteArray("{\\rtf1 Do not switch off.}"));
}

TEST_F(FwpackTest, ListShowsRecordsBitsAndSections) {
    file(QStringLiteral("a.bin"), QByteArray(10, 'a'));
    ASSERT_EQ(run({"create", "-o", "pkg", "base", "a.bin:upgrade,normal,section=A",
                   "a.bin:0x08E0:t.bin", "a.bin:settings:control.cfg"})
                  .exitCode,
              0);
    const ToolRun r = run({"list", "pkg"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 14) << r.out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("format version: 4"));
    EXPECT_EQ(lines[1], QStringLiteral("records: 4"));
    EXPECT_EQ(lines[2], QStringLiteral("body: 20 bytes"));
    EXPECT_EQ(lines[3], QStringLiteral("package: %1 bytes (trailer 30)").arg(38 + 96 + 3 * 48 + 30));
    EXPECT_TRUE(lines[5].contains(QRegularExpression(
        QStringLiteral("^ +0  0x2000 +- +96 +package\\.sha256 +digest$"))))
        << lines[5].toStdString();
    EXPECT_TRUE(lines[6].contains(QRegularExpression(
        QStringLiteral("^ +1  0x0814 +A +10 +a\\.bin +upgrade,normal,section=1$"))))
        << lines[6].toStdString();
    // The digest covers the attribute and the stored name field as stored, then the data.
    const QByteArray covered =
        QByteArray("\x08\x14" "a.bin", 7) + QByteArray(27, '\0') + QByteArray(10, 'a');
    EXPECT_EQ(lines[7], QStringLiteral("       sha256 %1  matches")
                            .arg(QLatin1String(
                                QCryptographicHash::hash(covered, QCryptographicHash::Sha256)
                                    .toHex())));
    EXPECT_TRUE(lines[8].contains(QStringLiteral("0x08E0     T")));
    EXPECT_TRUE(lines[10].contains(QStringLiteral("settings")));
    EXPECT_EQ(lines[12], QStringLiteral("sections: AT"));
    EXPECT_EQ(lines[13], QStringLiteral("digest: all 3 files match"));

    ASSERT_EQ(run({"create", "-o", "v3", "--format-version", "3", "base", "a.bin"}).exitCode, 0);
    const ToolRun v3 = run({"list", "v3"});
    EXPECT_EQ(v3.exitCode, 1);
    EXPECT_TRUE(v3.out.startsWith(QStringLiteral("format version: 3 (fwupgrade reads only")));
    const ToolRun plain = run({"list", "base"});
    EXPECT_EQ(plain.exitCode, 1);
    EXPECT_TRUE(plain.err.contains(QStringLiteral("carries no package")));
}

TEST_F(FwpackTest, CreateRefusesBadInputAndLeavesTheOutputAlone) {
    file(QStringLiteral("a.bin"), "a");
    file(QStringLiteral("pkg"), "previous contents");
    const QStringList before = entries();
    struct Case {
        QStringList files;
        const char* message;
    };
    QStringList many;
    for (int i = 0; i < 65; ++i)
        many << QStringLiteral("a.bin::f%1").arg(i);
    const Case cases[] = {
        {{"a.bin::abcdefghijklmnopqrstuvwxyz0123456"}, "is 33 bytes; at most 32 fit"},
        {{"a.bin::.."}, "refused: name \"..\" is a directory reference"},
        {{"a.bin::a/b"}, "refused: name holds a path separator"},
        {{"a.bin::"}, "refused: empty name"},
        {{"a.bin:upgrade,frobnicate"}, "unknown attribute bit \"frobnicate\""},
        {{"a.bin:0x2800"}, "sets unused bits 0x2000"},
        {{"a.bin:section=16"}, "section \"16\" is not 0..15"},
        {{"missing.bin"}, "missing.bin: no such file"},
        {many.mid(0, 64), "64 files given; a package holds at most 63 besides its digest"},
    };
    for (const Case& c : cases) {
        const ToolRun r = run(QStringList{"create", "-o", "pkg", "base"} + c.files);
        EXPECT_EQ(r.exitCode, 1) << c.message;
        EXPECT_TRUE(r.err.contains(QLatin1String(c.message))) << r.err.toStdString();
        EXPECT_EQ(contents(QStringLiteral("pkg")), QByteArray("previous contents"));
        EXPECT_EQ(entries(), before);
    }
    EXPECT_EQ(run({"create", "-o", "pkg", "base", "a.bin", "--malformed", "bogus"}).exitCode, 2);
    EXPECT_EQ(run({"create", "base", "a.bin"}).exitCode, 2);
    EXPECT_EQ(contents(QStringLiteral("pkg")), QByteArray("previous contents"));

    // Sixty-three files and their digest record are fine (64 records, which any version of
    // the program reads), and the output replaces the old file in one step.
    const ToolRun ok = run(QStringList{"create", "-o", "pkg", "base"} + many.mid(0, 63));
    EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(readWithProgram(QStringLiteral("pkg")), 63);
}

TEST_F(FwpackTest, MalformedPackagesAreRefusedByTheProgram) {
    file(QStringLiteral("a.bin"), QByteArray(100, 'a'));
    const QString readError = QStringLiteral("Error to open file in read_imbed_file function");
    for (const char* kind :
         {"package-length-large", "package-length-small", "trailer-length", "record-length-short",
          "record-past-trailer", "record-short-of-trailer"}) {
        ASSERT_EQ(
            run({"create", "-o", "bad", "--malformed", kind, "base", "a.bin", "a.bin::b"}).exitCode,
            0)
            << kind;
        EXPECT_EQ(readWithProgram(QStringLiteral("bad")), -1) << kind;
        EXPECT_EQ(boxes.texts, QStringList{readError}) << kind;
        EXPECT_NE(run({"list", "bad"}).exitCode, 0) << kind;
    }
    for (const char* version : {"3", "5"}) {
        ASSERT_EQ(
            run({"create", "-o", "bad", "--format-version", version, "base", "a.bin"}).exitCode, 0);
        EXPECT_EQ(readWithProgram(QStringLiteral("bad")), -2);
        EXPECT_EQ(boxes.texts, QStringList{"Please change append tool to version V1.23."});
    }
    ASSERT_EQ(run({"create", "-o", "bad", "--malformed", "unsafe-names", "base", "a.bin::ok",
                   "a.bin::../escape"})
                  .exitCode,
              0);
    EXPECT_EQ(readWithProgram(QStringLiteral("bad")), -1);
    EXPECT_EQ(boxes.texts, QStringList{readError});
    EXPECT_EQ(run({"extract", "bad", "out"}).exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("escape"))));
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("out"))).isEmpty());

    QStringList many;
    for (int i = 0; i < 65; ++i)
        many << QStringLiteral("a.bin::f%1").arg(i);
    ASSERT_EQ(
        run(QStringList{"create", "-o", "bad", "--malformed", "too-many", "base"} + many).exitCode,
        0);
    EXPECT_EQ(readWithProgram(QStringLiteral("bad")), -1);
    EXPECT_EQ(boxes.texts, QStringList{"Max Add File is 64"});
    EXPECT_EQ(reader->fileCount(), 64);
}

TEST_F(FwpackTest, VerifyListAndExtractTellAWholePackageFromADamagedOne) {
    QByteArray image(5000, 'i');
    file(QStringLiteral("a.bin"), image);
    file(QStringLiteral("s.cfg"), QByteArray(224, 's'));
    ASSERT_EQ(run({"create", "-o", "pkg", "base", "a.bin", "s.cfg:settings"}).exitCode, 0);
    const ToolRun whole = run({"verify", "pkg"});
    EXPECT_EQ(whole.exitCode, 0) << whole.err.toStdString();
    EXPECT_EQ(whole.out, QStringLiteral("a.bin: matches its digest\ns.cfg: matches its digest\n"
                                        "pkg: whole, 2 files match their digests\n"));

    QByteArray bytes = contents(QStringLiteral("pkg"));
    const qsizetype at = bytes.indexOf(QByteArray(224, 's')) + 7;
    bytes[at] = 't';
    file(QStringLiteral("bad"), bytes);
    const ToolRun damaged = run({"verify", "bad"});
    EXPECT_EQ(damaged.exitCode, 1);
    EXPECT_TRUE(damaged.out.contains(QStringLiteral("s.cfg: does NOT match its digest\n")));
    EXPECT_EQ(damaged.err, QStringLiteral("fwpack: bad: damaged: s.cfg does not match its digest\n"));
    const ToolRun list = run({"list", "bad"});
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_TRUE(list.out.contains(QStringLiteral("DOES NOT MATCH (the digest record holds ")));
    EXPECT_TRUE(list.out.endsWith(QStringLiteral("digest: DAMAGED, 1 of 2 files do not match\n")));
    const ToolRun extract = run({"extract", "bad", "out"});
    EXPECT_EQ(extract.exitCode, 1);
    EXPECT_TRUE(extract.err.contains(QStringLiteral("record 2: s.cfg does not match its digest")));
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("out"))).isEmpty());
    EXPECT_EQ(readWithProgram(QStringLiteral("bad")), EmbeddedPackage::Damaged);
    EXPECT_EQ(boxes.texts,
              QStringList{"The package is damaged: s.cfg does not match its digest"});

    // Packed before digests: the program takes it; verify cannot call it whole.
    file(QStringLiteral("old"),
         PackageFormat::buildPackage(contents(QStringLiteral("base")), {{"a.bin", 0x080D, image}}));
    const ToolRun old = run({"verify", "old"});
    EXPECT_EQ(old.exitCode, 1);
    EXPECT_EQ(old.err, QStringLiteral("fwpack: old: carries no digest; its files cannot be checked\n"));
    const ToolRun oldList = run({"list", "old"});
    EXPECT_EQ(oldList.exitCode, 0);
    EXPECT_TRUE(oldList.out.contains(QStringLiteral("  (no digest record)\n")));
    EXPECT_EQ(run({"verify", "base"}).exitCode, 2);
    EXPECT_EQ(run({"verify", "missing"}).exitCode, 2);
    EXPECT_EQ(run({"verify"}).exitCode, 2);
}

TEST_F(FwpackTest, ExtractWritesStoredNamesAndKeepsExistingFiles) {
    file(QStringLiteral("a.bin"), "alpha");
    file(QStringLiteral("m.txt"), "hello");
    ASSERT_EQ(run({"create", "-o", "pkg", "base", "a.bin", "m.txt:message:note.msg"}).exitCode, 0);
    const ToolRun r = run({"extract", "pkg", "out/sub"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(contents(QStringLiteral("out/sub/a.bin")), QByteArray("alpha"));
    EXPECT_EQ(contents(QStringLiteral("out/sub/note.msg")), QByteArray("hello"));

    file(QStringLiteral("out/sub/a.bin"), "mine");
    QFile::remove(dir.filePath(QStringLiteral("out/sub/note.msg")));
    const ToolRun again = run({"extract", "pkg", "out/sub"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.err.contains(QStringLiteral("--force")));
    EXPECT_EQ(contents(QStringLiteral("out/sub/a.bin")), QByteArray("mine"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("out/sub/note.msg"))));

    // A link planted under a stored name is replaced, never followed.
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("m.txt")),
                            dir.filePath(QStringLiteral("out/sub/note.msg"))));
    EXPECT_EQ(run({"extract", "--force", "pkg", "out/sub"}).exitCode, 0);
    EXPECT_EQ(contents(QStringLiteral("out/sub/a.bin")), QByteArray("alpha"));
    EXPECT_FALSE(QFileInfo(dir.filePath(QStringLiteral("out/sub/note.msg"))).isSymLink());
    EXPECT_EQ(contents(QStringLiteral("m.txt")), QByteArray("hello"));
}

TEST_F(FwpackTest, SettingsRecordByteForByteAndWidthChecks) {
    const ToolRun r = run({"settings",
                           "-o",
                           "s.cfg",
                           "--dst-ip",
                           "10.0.0.2",
                           "--password",
                           "12345678901234567",
                           "--start-mode",
                           "get",
                           "--get-output",
                           "dump.bin",
                           "--get-offset",
                           "0x1000",
                           "--get-length",
                           "4096",
                           "--romid",
                           "ABC123",
                           "--flags",
                           "0x1A",
                           "--default-ip1",
                           "192.168.0.1",
                           "--caption",
                           "Router upgrade",
                           "--timeout",
                           "-5",
                           "--method-order",
                           "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    SettingsRecord want;
    using S = SettingsRecord;
    want.setText(S::DstIP, "10.0.0.2");
    want.setText(S::PassWd, "12345678901234567");
    want.setByte(S::StartMode, 1);
    want.setGetText(S::GetOutputName, "dump.bin");
    want.setGetText(S::GetOffset, "0x1000");
    want.setGetText(S::GetLength, "4096");
    want.setText(S::ROMID, "ABC123");
    want.setByte(S::SettingFlags, 0x1A);
    want.setText(S::DefaultIP1, "192.168.0.1");
    for (const auto f : {S::DefaultIP2, S::DefaultIP3, S::DefaultIP4})
        want.setText(f, "default");
    want.setText(S::WindowCaption, "Router upgrade");
    want.setByte(S::TimeOut, quint8(-5));
    want.setByte(S::MethodOrder, 3);
    EXPECT_EQ(contents(QStringLiteral("s.cfg")).toHex(), want.bytes().toHex());

    struct Bad {
        QStringList args;
        int exitCode;
    };
    const Bad bad[] = {
        {{"--dst-ip", "123456789012345678"}, 1},
        {{"--password", "123456789012345678"}, 1},
        {{"--file-name", QString(64, 'f')}, 1},
        {{"--get-output", QString(32, 'o')}, 1},
        {{"--get-offset", QString(16, '1')}, 1},
        {{"--romid", QString(16, 'R')}, 1},
        {{"--caption", QString(32, 'c')}, 1},
        {{"--default-ip4", QString(18, '1')}, 1},
        {{"--flags", "256"}, 1},
        {{"--timeout", "128"}, 1},
        {{"--start-mode", "push"}, 1},
        {{"--method-order", "-1"}, 1},
        {{"--file-name", "x", "--get-length", "1"}, 2},
        {{"--unknown", "1"}, 2},
    };
    for (const Bad& b : bad) {
        const ToolRun failed = run(QStringList{"settings", "-o", "bad.cfg"} + b.args);
        EXPECT_EQ(failed.exitCode, b.exitCode) << b.args.join(' ').toStdString();
        EXPECT_FALSE(failed.err.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("bad.cfg"))));
    }
    // Widest texts that still leave their terminating zero.
    EXPECT_EQ(run({"settings", "-o", "w.cfg", "--file-name", QString(63, 'f'), "--caption",
                   QString(31, 'c')})
                  .exitCode,
              0);
    SettingsRecord wide;
    wide.overlay(contents(QStringLiteral("w.cfg")));
    EXPECT_EQ(wide.fileName(), QString(63, 'f'));
    EXPECT_EQ(wide.windowCaption(), QString(31, 'c'));
}

TEST_F(FwpackTest, MessageRecordWidthChecks) {
    file(QStringLiteral("t.txt"), "text");
    file(QStringLiteral("long.txt"), QByteArray(65536, 'x'));
    ASSERT_EQ(run({"message", "-o", "m.msg", "--text", "t.txt", "--name", QString(15, 'n'),
                   "--caption", QString(63, 'c')})
                  .exitCode,
              0);
    MessageRecord want;
    want.name = QByteArray(15, 'n');
    want.caption = QByteArray(63, 'c');
    want.colour = 0x00FFFFFF;
    want.text = "text";
    EXPECT_EQ(contents(QStringLiteral("m.msg")).toHex(), want.serialize().toHex());
    for (const QStringList& args :
         {QStringList{"--name", QString(16, 'n')}, QStringList{"--caption", QString(64, 'c')},
          QStringList{"--live-time", "65536"}, QStringList{"--mode1", "256"},
          QStringList{"--colour", "0x100000000"}}) {
        const ToolRun r = run(QStringList{"message", "-o", "bad.msg", "--text", "t.txt"} + args);
        EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString();
    }
    const ToolRun tooLong = run({"message", "-o", "bad.msg", "--text", "long.txt"});
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_TRUE(tooLong.err.contains(QStringLiteral("at most 65535")));
    EXPECT_EQ(run({"message", "-o", "bad.msg", "--text", "absent.txt"}).exitCode, 1);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("bad.msg"))));
}

} // namespace
