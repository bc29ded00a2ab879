#pragma once
// Process-wide record of the private extraction directories and the files in them, so that a
// termination signal or an abnormal end still removes what was extracted. Storage is fixed and
// prepared before any signal arrives; the cleanup itself uses only async-signal-safe calls.
// Registration is done by the thread that owns the directory (the GUI thread in the program).

#include <QByteArray>

namespace fw {

class ExtractionCleanup {
public:
    static constexpr int MaxDirectories = 16;
    static constexpr int MaxFilesPerDirectory = 80;
    static constexpr int MaxNameBytes = 263;  // a file name of 255 bytes and ".tmp"
    static constexpr int MaxPathBytes = 4095; // the directory

    // Registers a directory; returns its slot, or -1 when the storage is full or the path is
    // too long (the directory is then removed only by its owner).
    static int registerDirectory(const QByteArray& nativePath);
    // Records a file name inside the directory of `slot` before the file is created.
    static bool registerFile(int slot, const QByteArray& name);
    static void unregisterFile(int slot, const QByteArray& name);
    // Forgets the directory and its files (after its owner removed them).
    static void unregisterDirectory(int slot);
    // Number of directories currently registered.
    static int registeredDirectories();
};

// Installs SIGINT, SIGTERM and SIGHUP handlers that remove every registered file and directory
// and then end the process by the same signal (128 + signal number if it survives); a signal
// the process ignores stays ignored. Also removes them at exit() and std::terminate. Idempotent.
void installTerminationCleanup();

// Removes every registered file and directory now (for abnormal ends). Async-signal-safe.
void cleanupExtractedFilesNow();

} // namespace fw
