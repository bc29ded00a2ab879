#pragma once
// One upgrade per router on this machine: a lock file per router address in the user's runtime
// directory, held by an fcntl record lock that the kernel drops when the process ends, however
// it ends. Shared by the window, headless runs and fwfleet's children, which all take it the
// same way. GUI thread (the controller's).

#include <QString>
#include <QtGlobal>

namespace fw {

class RouterLock {
public:
    enum class Result {
        Taken,      // this process holds the router now
        Busy,       // another process holds it (holder() says which)
        Unavailable // no lock could be made (error() says why)
    };

    RouterLock() = default;
    ~RouterLock();
    RouterLock(const RouterLock&) = delete;
    RouterLock& operator=(const RouterLock&) = delete;

    // XDG_RUNTIME_DIR when it names a directory, else /tmp/fwupgrade-UID (created owner-only,
    // used only when it is this user's own directory and no link).
    static QString runtimeDirectory();
    // The lock file's name for a router address; anything but letters, digits, '.', '-' and
    // '_' becomes '_', so no address can name a path elsewhere.
    static QString fileName(const QString& router);

    // Takes the lock of `router` in `directory` (empty: runtimeDirectory()). A lock already held
    // for the same router is kept; one held for another router is released first.
    Result take(const QString& router, const QString& directory = QString());
    void release();
    bool held() const { return fd_ >= 0; }
    QString router() const { return router_; }
    // After Busy: the process holding the router (0 when the system did not say).
    qint64 holder() const { return holder_; }
    // After Unavailable: what went wrong.
    QString error() const { return error_; }

private:
    int fd_ = -1;
    QString router_;
    qint64 holder_ = 0;
    QString error_;
};

} // namespace fw
