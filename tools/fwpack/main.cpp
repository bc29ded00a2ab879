// fwpack: builds, lists and extracts the package that fwupgrade carries at the end of its
// executable, and writes the settings and message records that go into it.

#include "FwpackSupport.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

const char kHelp[] = R"(Usage: fwpack COMMAND [OPTIONS] [ARGUMENTS]

Builds and inspects the package that fwupgrade carries appended to its executable.

Commands:

  create -o OUT BASE FILE[:ATTR[:NAME]]...
      Writes OUT: the executable BASE followed by a package of the FILEs, in the
      order given (at most 63), after a digest record "package.sha256"
      (attribute 0x2000): the SHA-256 of each file's attribute, stored name and
      data. fwupgrade checks it while it extracts the files and refuses a file
      that does not match; programs built before digests ignore the record.
      FILE ends at the first ':'.
      ATTR  the file attribute: a number (0x080D or decimal) or bit names joined
            by commas:
              default   0x0001  sent without a ROM identifier test
              romid     0x0002  sent when the ROM identifier begins its name
              normal    0x0004  may be sent by HTTP and FTP
              tftp      0x0008  may be sent by TFTP
              section=N 0x00F0  section 0..15, or its letter A..M, T (14), X (15)
              keepname  0x0100  extracted without the .tmp suffix
              message   0x0400  message file
              upgrade   0x0800  upgrade file
              settings  0x1000  settings file
            The unused bits 0x0200 and 0xE000 are refused.
            Default: 0x080D (upgrade,tftp,normal,default).
      NAME  the stored name: 1 to 32 bytes of printable ASCII, no '/' or '\',
            not "." or "..". Default: FILE's base name.
      OUT is written to a temporary file in its own directory and renamed into
      place only when complete; it gets BASE's permission bits (and owner write).
      Options for building packages that fwupgrade must refuse (tests only):
        --format-version N   store format version N instead of 4
        --malformed KIND     may be repeated; KIND is one of
            package-length-large     package length beyond the start of the file
            package-length-small     package length shorter than the trailer
            trailer-length           trailer length field 4 too large
            record-length-short      first record length 37 (below 38)
            record-past-trailer      last record runs 1 byte into the trailer
            record-short-of-trailer  last record ends 1 byte before the trailer
            unsafe-names             store names such as "..", "a/b" or ""
            too-many                 allow more than 64 files

  list FILE
      Shows the format version, the records (attribute, its bits, section
      letter, data size, stored name), each file's SHA-256 and whether it
      matches the digest record, and the section list. Exit status 1 when
      fwupgrade would refuse the package (a file that does not match, too).

  verify PROGRAM
      Checks a packed program without running it: every file against the
      digest record, with the checks fwupgrade applies. Exit status 0 when the
      package is whole, 1 when it is damaged or carries no digest, 2 when
      PROGRAM carries no package or cannot be read.

  extract [--force] FILE DIR
      Writes each embedded file into DIR (created when missing) under its stored
      name, with the checks fwupgrade applies, digests included (the digest
      record itself is not written). Existing files are kept and the
      extraction fails unless --force is given. On failure the files written by
      this run are removed.

  settings -o OUT [OPTIONS]
      Writes a 224-byte settings record. Fields not given keep the values of the
      shipped settings file: start mode set, flags 0x1A, default addresses and
      caption "default", timeout 0, method order 2, the texts empty.
      Each text must leave room for its terminating zero (field size - 1 bytes).
        --dst-ip TEXT        router address              (17 bytes)
        --password TEXT      router password             (17 bytes)
        --start-mode MODE    put, get, set or -128..127
        --file-name TEXT     upgrade file for put/set    (63 bytes)
        --get-output TEXT    read-back output file       (31 bytes)
        --get-offset TEXT    read-back ROM offset        (15 bytes)
        --get-length TEXT    read-back length            (15 bytes)
                             (--get-* and --file-name share one field)
        --romid TEXT         ROM identifier              (15 bytes)
        --flags N            setting flags 0..255, e.g. 0x1A
        --default-ip1 TEXT .. --default-ip4 TEXT
                             default router addresses    (17 bytes)
        --caption TEXT       window caption              (31 bytes)
        --timeout N          watchdog limit in seconds, -128..127 (0: 40)
        --method-order N     0 default, 1 HTTP, 2 FTP, 3 TFTP first (0..255)

  message -o OUT --text FILE [OPTIONS]
      Writes a message record around the text (RTF or plain, at most 65535
      bytes) in FILE.
        --name TEXT          message name (15 bytes); "QEMO..." for Menu Mode
        --caption TEXT       window title (63 bytes)
        --live-time N        0..65535 ticks of 100 ms (the window caps it at 80)
        --mode1 N            0..255; non-zero: not for TFTP Mode
        --mode2 N            0..255; non-zero: not for FTP Mode
        --colour 0xBBGGRR    background colour (default 0xFFFFFF)
        --no-blink           the text does not blink

  help, --help, -h
      Shows this text.

  --version
      Shows the version.

Exit status: 0 success, 1 failure (message on standard error), 2 usage error
(verify: 2 also when PROGRAM carries no package).
)";

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return fwpack::usageError(QStringLiteral("no command given"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("help") || command == QLatin1String("--help") ||
        command == QLatin1String("-h")) {
        QTextStream(stdout) << kHelp;
        return fwpack::ExitOk;
    }
    if (command == QLatin1String("--version")) {
        QTextStream(stdout) << "fwpack " FW_VERSION "\n";
        return fwpack::ExitOk;
    }
    if (command == QLatin1String("create"))
        return fwpack::runCreate(args);
    if (command == QLatin1String("list"))
        return fwpack::runList(args);
    if (command == QLatin1String("verify"))
        return fwpack::runVerify(args);
    if (command == QLatin1String("extract"))
        return fwpack::runExtract(args);
    if (command == QLatin1String("settings"))
        return fwpack::runSettings(args);
    if (command == QLatin1String("message"))
        return fwpack::runMessage(args);
    return fwpack::usageError(QStringLiteral("unknown command \"%1\"").arg(command));
}
