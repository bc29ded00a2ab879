#pragma once
// Puts a stock TFTP server behind the recovery loader's single port. A stock server answers each
// write request from a port of its own, while the program sends everything to port 69 and takes
// the answers from there: the relay takes port 69 on the router's address (and on 0.0.0.0 for
// broadcasts), hands each write request to the server from a fresh socket, sends the data blocks
// that follow on to the port the server answered from, and returns every answer from port 69.
// The reboot order (read request "R!") is counted, not passed on; any other datagram (the
// search's probes) goes to a second address and its answers come back the same way. Runs on a
// thread of its own; start/stop from the test's thread. POSIX sockets.

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <thread>

namespace fw::test {

class TftpRelay {
public:
    struct Config {
        QString routerAddress;  // the loader's address; port `routerPort`
        quint16 routerPort = 69;
        quint16 serverPort = 0; // the stock server, on 127.0.0.1
        QString otherAddress;   // where other datagrams go (empty: dropped)
        quint16 otherPort = 0;
    };
    static constexpr std::chrono::milliseconds PollSlice{50};

    TftpRelay() = default;
    ~TftpRelay();
    TftpRelay(const TftpRelay&) = delete;
    TftpRelay& operator=(const TftpRelay&) = delete;

    // Binds every socket, then relays on its thread; false with *error when a socket fails.
    bool start(const Config& config, QString* error);
    void stop();

    int writeRequests() const { return writeRequests_; }
    int rebootRequests() const { return rebootRequests_; }

private:
    void run();

    Config config_;
    int router_ = -1; // port 69 on the router's address: every answer leaves from here
    int wildcard_ = -1; // port 69 on 0.0.0.0: broadcasts
    int other_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> writeRequests_{0};
    std::atomic<int> rebootRequests_{0};
    std::thread thread_;
};

} // namespace fw::test
