#pragma once
// SHA-256 over a stream of pieces, through libcrypto (which uses the processor's SHA instructions
// where it has them). One object per stream; any thread, not shared between threads.

#include <QByteArray>
#include <QtGlobal>

#include <memory>

namespace fw {

class Sha256 {
public:
    static constexpr int Size = 32;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void reset();
    void add(const char* data, qint64 size);
    void add(const QByteArray& bytes) { add(bytes.constData(), bytes.size()); }
    // The 32-byte digest of everything added since the last reset; resets.
    QByteArray result();

    static QByteArray of(const QByteArray& bytes);

private:
    struct Context;
    std::unique_ptr<Context> ctx_;
};

} // namespace fw
