#pragma once
// The TFTP packets the recovery engine builds and the part of a received one it reads (opcode and
// block number), as the router's loader speaks them: RFC 1350 packets, big-endian numbers,
// 512-byte blocks. Pure functions; any thread.

#include <QByteArray>
#include <QtGlobal>
#include <optional>

namespace fw {

class TftpPacket {
public:
    enum Opcode : quint16 { ReadRequest = 1, WriteRequest = 2, Data = 3, Ack = 4, Error = 5 };

    static constexpr int BlockSize = 512;
    static constexpr int HeaderSize = 4;
    // A file name in a request is cut to this many bytes; the terminating zero always follows.
    static constexpr int MaxNameLength = 32;
    // Datagrams beyond this are not read at all (the endpoint's receive size).
    static constexpr int MaxDatagram = 2048;
    // Block numbers are 16 bits and start at 1.
    static constexpr int MaxBlockNumber = 0xFFFF;

    // opcode, name (cut to MaxNameLength), 0, mode, 0.
    static QByteArray request(Opcode opcode, const QByteArray& name, const QByteArray& mode);
    static QByteArray writeRequest(const QByteArray& name, const QByteArray& mode) {
        return request(WriteRequest, name, mode);
    }
    static QByteArray readRequest(const QByteArray& name, const QByteArray& mode) {
        return request(ReadRequest, name, mode);
    }
    // 0x00 0x03, block, payload (at most BlockSize bytes are taken).
    static QByteArray data(quint16 block, const QByteArray& payload);

    struct Header {
        quint16 opcode = 0;
        quint16 block = 0; // the block number of data and acknowledgements, the code of an error
    };
    // The first four bytes of a received datagram; nothing for one shorter than four bytes or
    // longer than MaxDatagram.
    static std::optional<Header> header(const QByteArray& datagram);
};

} // namespace fw
