#include "package/Sha256.h"

#include <openssl/evp.h>

#include <new>

namespace fw {

struct Sha256::Context {
    EVP_MD_CTX* md = nullptr;
};

Sha256::Sha256() : ctx_(std::make_unique<Context>()) {
    ctx_->md = EVP_MD_CTX_new();
    if (!ctx_->md)
        throw std::bad_alloc();
    reset();
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(ctx_->md);
}

void Sha256::reset() {
    EVP_DigestInit_ex(ctx_->md, EVP_sha256(), nullptr);
}

void Sha256::add(const char* data, qint64 size) {
    if (size > 0)
        EVP_DigestUpdate(ctx_->md, data, size_t(size));
}

QByteArray Sha256::result() {
    QByteArray out(Size, '\0');
    unsigned int n = 0;
    EVP_DigestFinal_ex(ctx_->md, reinterpret_cast<unsigned char*>(out.data()), &n);
    reset();
    return out;
}

QByteArray Sha256::of(const QByteArray& bytes) {
    Sha256 h;
    h.add(bytes);
    return h.result();
}

} // namespace fw
