#pragma once
// A directory that extracted files are written into, held open by descriptor so that every name
// is resolved inside it and no link is ever followed. Either a fresh private (owner-only,
// uniquely named) directory under the temporary directory, or an existing directory the user
// named. Used on the thread that owns it.

#include <QByteArray>
#include <QString>

namespace fw {

class TempDirectory {
public:
    TempDirectory() = default;
    ~TempDirectory(); // closes the descriptor; removes nothing
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    // `override` when not empty, else TMPDIR, TEMP or TMP (the first set and not empty), else /tmp.
    static QString base(const QString& override = QString());

    // Creates <base>/fwupgrade-XXXXXX with mode 0700.
    bool createPrivate(const QString& base);
    // Opens an existing directory (the directory itself must not be a link).
    bool openExisting(const QString& path);

    bool isOpen() const { return fd_ >= 0; }
    QString path() const { return path_; }
    QByteArray nativePath() const { return native_; }
    QString filePath(const QByteArray& name) const;
    QString errorString() const { return error_; }

    // Creates `name` for writing with mode 0600 (never through a link, never an existing file).
    // With `replace` an existing entry of that name is removed first. Returns a descriptor or -1.
    int createFile(const QByteArray& name, bool replace);
    // Removes the entry `name`; true when it is gone (also when it was not there).
    bool removeFile(const QByteArray& name);
    // Removes the (empty) directory itself and closes it.
    bool removeDirectory();
    void close();

    // Gives the owner write permission on an open file (the read-only attribute cleared).
    static bool makeOwnerWritable(int fd);
    static void closeFile(int fd);

private:
    bool fail(const QString& what);

    int fd_ = -1;
    QString path_;
    QByteArray native_;
    QString error_;
};

} // namespace fw
