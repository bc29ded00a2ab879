#include "JsonLinesSignalExit.h"

#include "package/ExtractionCleanup.h"
#include "ui/JsonLines.h"

#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace fw {

namespace {
// By the signal's default action, so the parent sees the signal; 128 + signal if that returns.
[[noreturn]] void endBySignal(int sig) {
    ::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    pthread_kill(pthread_self(), sig);
    ::_exit(128 + sig);
}
} // namespace

void JsonLinesSignalExit::install() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the process was started to ignore stays ignored.
        struct sigaction previous {};
        if (::sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaddset(&set, sig);
    }
    // Threads made later inherit the mask; only the waiting thread takes these signals.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    JsonLines::standardOutput(); // the clock starts now
    std::thread([set] {
        int sig = 0;
        while (sigwait(&set, &sig) != 0) {
        }
        cleanupExtractedFilesNow();
        // A stream that blocks even the short write below cannot keep the process alive.
        std::thread([sig] {
            std::this_thread::sleep_for(EndLimit);
            endBySignal(sig);
        }).detach();
        JsonLines::standardOutput().writeExitNow(128 + sig, WriterWait);
        endBySignal(sig);
    }).detach();
}

} // namespace fw
