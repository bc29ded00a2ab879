#pragma once
// Shared pieces of the packaging tool's commands: error reporting, number and attribute syntax,
// and writing an output file atomically. Main thread only.

#include <QCommandLineParser>
#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace fwpack {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
inline constexpr int ExitNoPackage = 2; // fwpack verify: the file carries no package

// "fwpack: <text>" on standard error; returns ExitFailed.
int fail(const QString& text);
// As fail(), followed by a hint to --help; returns ExitUsage.
int usageError(const QString& text);
void out(const QString& line); // one line on standard output

// Parses the arguments of one command ("fwpack <command> ..."); false after reporting the error.
bool parseCommand(QCommandLineParser& parser, const QString& command, const QStringList& args);

// A decimal number, or hexadecimal with 0x; within [min, max].
std::optional<qint64> parseNumber(const QString& text, qint64 min, qint64 max);

// "0x080D", a decimal number, or names joined by commas: upgrade, normal, tftp, default, romid,
// keepname, message, settings, section=N (0..15 or the letter A..M, T, X). Unused bits refused.
std::optional<quint16> parseAttribute(const QString& text, QString* why);
// The attribute's bits by name, e.g. "upgrade,tftp,normal,default,section=2".
QString describeAttribute(quint16 attribute);

// A text that must fit a zero-terminated field of `fieldSize` bytes, in Latin-1.
std::optional<QByteArray> fieldText(const QString& option, const QString& value, int fieldSize,
                                    QString* why);

// Writes `path` through a temporary file in the same directory, renamed into place only when
// `write` succeeded; the output gets `permissions`. Nothing is left behind on failure.
bool writeAtomically(const QString& path, QFileDevice::Permissions permissions,
                     const std::function<bool(QFile&, QString*)>& write, QString* why);

int runCreate(const QStringList& args);
int runList(const QStringList& args);
int runVerify(const QStringList& args);
int runExtract(const QStringList& args);
int runSettings(const QStringList& args);
int runMessage(const QStringList& args);

} // namespace fwpack
