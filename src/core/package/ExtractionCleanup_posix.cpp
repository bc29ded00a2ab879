#include "package/ExtractionCleanup.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <unistd.h>

namespace fw {

namespace {

enum SlotState : int { Free = 0, Filling = 1, Active = 2 };

struct Slot {
    std::atomic<int> state{Free};
    char dir[ExtractionCleanup::MaxPathBytes + 1];
    std::atomic<int> fileCount{0};
    char names[ExtractionCleanup::MaxFilesPerDirectory][ExtractionCleanup::MaxNameBytes + 1];
    std::atomic<bool> live[ExtractionCleanup::MaxFilesPerDirectory];
};

// Zero-initialised static storage: nothing is allocated when a signal arrives.
Slot g_slots[ExtractionCleanup::MaxDirectories];

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

bool validSlot(int slot) {
    return slot >= 0 && slot < ExtractionCleanup::MaxDirectories &&
           g_slots[slot].state.load() == Active;
}

int findFile(const Slot& s, const QByteArray& name) {
    const int n = s.fileCount.load();
    for (int i = 0; i < n; ++i)
        if (std::strcmp(s.names[i], name.constData()) == 0)
            return i;
    return -1;
}

// Async-signal-safe: only unlink, rmdir and plain byte copies.
void cleanupSlot(Slot& s) {
    char path[ExtractionCleanup::MaxPathBytes + ExtractionCleanup::MaxNameBytes + 2];
    size_t dirLength = 0;
    while (s.dir[dirLength] != '\0')
        path[dirLength] = s.dir[dirLength], ++dirLength;
    path[dirLength] = '/';
    const int n = s.fileCount.load();
    for (int i = 0; i < n; ++i) {
        if (!s.live[i].exchange(false))
            continue;
        size_t k = 0;
        for (; s.names[i][k] != '\0'; ++k)
            path[dirLength + 1 + k] = s.names[i][k];
        path[dirLength + 1 + k] = '\0';
        ::unlink(path);
    }
    ::rmdir(s.dir);
}

void cleanupAll() {
    const int saved = errno;
    for (Slot& s : g_slots)
        if (s.state.load() == Active)
            cleanupSlot(s);
    errno = saved;
}

extern "C" void onTerminationSignal(int sig) {
    cleanupAll();
    // SA_RESETHAND restored the default action: end the process by the same signal.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    ::_exit(128 + sig);
}

std::terminate_handler g_previousTerminate = nullptr;

void onTerminate() {
    cleanupAll();
    if (g_previousTerminate)
        g_previousTerminate();
    std::abort();
}

} // namespace

int ExtractionCleanup::registerDirectory(const QByteArray& nativePath) {
    if (nativePath.isEmpty() || nativePath.size() > MaxPathBytes)
        return -1;
    for (int i = 0; i < MaxDirectories; ++i) {
        Slot& s = g_slots[i];
        int expected = Free;
        if (!s.state.compare_exchange_strong(expected, Filling))
            continue;
        std::memcpy(s.dir, nativePath.constData(), size_t(nativePath.size()));
        s.dir[nativePath.size()] = '\0';
        for (auto& l : s.live)
            l.store(false);
        s.fileCount.store(0);
        s.state.store(Active);
        return i;
    }
    return -1;
}

bool ExtractionCleanup::registerFile(int slot, const QByteArray& name) {
    if (!validSlot(slot) || name.isEmpty() || name.size() > MaxNameBytes || name.contains('\0'))
        return false;
    Slot& s = g_slots[slot];
    if (const int i = findFile(s, name); i >= 0) {
        s.live[i].store(true);
        return true;
    }
    const int n = s.fileCount.load();
    if (n >= MaxFilesPerDirectory)
        return false;
    std::memcpy(s.names[n], name.constData(), size_t(name.size()));
    s.names[n][name.size()] = '\0';
    s.live[n].store(true);
    s.fileCount.store(n + 1); // published only once the name is complete
    return true;
}

void ExtractionCleanup::unregisterFile(int slot, const QByteArray& name) {
    if (!validSlot(slot))
        return;
    if (const int i = findFile(g_slots[slot], name); i >= 0)
        g_slots[slot].live[i].store(false);
}

void ExtractionCleanup::unregisterDirectory(int slot) {
    if (!validSlot(slot))
        return;
    Slot& s = g_slots[slot];
    s.state.store(Filling); // the handler no longer looks at it
    s.fileCount.store(0);
    s.state.store(Free);
}

int ExtractionCleanup::registeredDirectories() {
    int n = 0;
    for (const Slot& s : g_slots)
        n += s.state.load() == Active ? 1 : 0;
    return n;
}

void installTerminationCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction previous {};
            if (::sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
                continue;
            struct sigaction action {};
            action.sa_handler = onTerminationSignal;
            sigemptyset(&action.sa_mask);
            sigaddset(&action.sa_mask, SIGINT);
            sigaddset(&action.sa_mask, SIGTERM);
            sigaddset(&action.sa_mask, SIGHUP);
            action.sa_flags = SA_RESETHAND;
            ::sigaction(sig, &action, nullptr);
        }
        std::atexit(cleanupAll);
        g_previousTerminate = std::set_terminate(onTerminate);
    });
}

void cleanupExtractedFilesNow() {
    cleanupAll();
}

} // namespace fw
