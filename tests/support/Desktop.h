#pragma once
// A real X desktop for the end-to-end tests: an Xvfb display with the openbox window manager,
// started inside the test's network namespace, and xdotool for a person's keys and clicks.
// Every wait is bounded. Main thread of a test executable.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

namespace fw::test {

// A window's pixels as the X server shows them (RGB, one byte each).
struct Shot {
    int width = 0, height = 0;
    QByteArray rgb;
    bool valid() const { return width > 0 && height > 0; }
    // Red, green and blue of a pixel as one number (0 outside the picture).
    unsigned pixel(int x, int y) const;
};

class Desktop {
public:
    static constexpr std::chrono::milliseconds StartTimeout{10000};

    Desktop();
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // The tools that are missing from PATH (empty when all are there).
    static QStringList missingTools();
    // Starts Xvfb and openbox; false with *error set when either does not come up in time.
    bool start(QString* error);
    QString display() const { return display_; }

    // Runs xdotool with `args` on this display; its standard output, trimmed.
    QString xdotool(const QStringList& args, int* exitCode = nullptr) const;
    // The visible windows whose title matches the regular expression `title`.
    QStringList windows(const QString& title) const;
    // Waits up to `timeout` for a visible window with that title; empty when none came.
    QString waitForWindow(const QString& title, std::chrono::milliseconds timeout) const;
    // Every visible window.
    QStringList visibleWindows() const;
    QString windowName(const QString& window) const;
    // Saves the whole screen when FW_DESKTOP_SHOTS names a folder (to see what a failing test
    // saw); `name` becomes the file's name there.
    void keepScreen(const QString& name) const;
    // The window's contents (its client area), through ImageMagick's import; invalid on failure.
    Shot grab(const QString& window) const;

private:
    QString display_;
    std::unique_ptr<QProcess> xvfb_;
    std::unique_ptr<QProcess> wm_;
};

} // namespace fw::test
