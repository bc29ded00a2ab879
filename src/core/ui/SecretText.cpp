#include "ui/SecretText.h"

#include "ui/VisibleText.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <mutex>

namespace fw {

namespace {

struct Registry {
    std::mutex mutex;
    QStringList byAge;        // newest first: the oldest is dropped past MaxSecrets
    QStringList longestFirst; // the masking order: a secret inside another leaves no piece
};

Registry& registry() {
    static Registry r;
    return r;
}

void add(const QString& secret) {
    if (secret.size() < MinMaskedLength)
        return;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.byAge.removeAll(secret);
    r.byAge.prepend(secret);
    while (r.byAge.size() > MaxSecrets)
        r.byAge.removeLast();
    r.longestFirst = r.byAge;
    std::stable_sort(r.longestFirst.begin(), r.longestFirst.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });
}

} // namespace

void registerSecret(const QString& secret) {
    add(secret);
    const QString latin1 = QString::fromLatin1(secret.toUtf8());
    if (latin1 != secret)
        add(latin1);
}

void registerBasicCredentials(const QByteArray& base64Credentials) {
    add(QString::fromLatin1(base64Credentials));
}

QString maskSecrets(const QString& text) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    QString out = text;
    for (const QString& secret : std::as_const(r.longestFirst))
        out.replace(secret, QLatin1String(MaskedSecret));
    return out;
}

QJsonValue maskSecrets(const QJsonValue& v) {
    if (v.isString())
        return maskSecrets(v.toString());
    if (v.isArray()) {
        QJsonArray a = v.toArray();
        for (auto it = a.begin(); it != a.end(); ++it)
            *it = maskSecrets(QJsonValue(*it));
        return a;
    }
    if (v.isObject()) {
        QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            *it = maskSecrets(QJsonValue(*it));
        return o;
    }
    return v;
}

QString shownText(const QString& text) {
    return visibleText(maskSecrets(text));
}

QString maskedSecret(const QString& secret) {
    return secret.isEmpty() ? QString() : QString::fromLatin1(MaskedSecret);
}

void forgetSecrets() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.byAge.clear();
    r.longestFirst.clear();
}

} // namespace fw
