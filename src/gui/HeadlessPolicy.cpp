#include "HeadlessPolicy.h"

#include "ui/BatchedLineWriter.h"
#include "ui/Headless.h"
#include "ui/JsonLines.h"

#include <QJsonArray>

#include <cstdio>
#include <memory>

namespace fw {

HeadlessPolicy HeadlessPolicy::fromEnvironment() {
    HeadlessPolicy p;
    p.enabled = headlessRun();
    // A transfer reports per datagram: the streams take the lines in batches.
    auto out = std::make_shared<BatchedLineWriter>(stdout);
    auto err = std::make_shared<BatchedLineWriter>(stderr);
    p.out = [out](const QString& line) { out->writeLine(line); };
    p.err = [err](const QString& line) { err->writeLine(line); };
    if (jsonLinesOutput())
        p.json = [](const QString& kind, const QJsonObject& fields) {
            JsonLines::standardOutput().write(kind, fields);
        };
    return p;
}

HeadlessPolicy HeadlessPolicy::capture(Writer out, Writer err) {
    HeadlessPolicy p;
    p.enabled = true;
    p.out = std::move(out);
    p.err = std::move(err);
    return p;
}

void HeadlessPolicy::report(const QString& kind, const QString& text) const {
    if (!enabled)
        return;
    if (json)
        json(kind, {{QStringLiteral("text"), text}});
    else if (kind == QLatin1String("log"))
        writeOut(text);
    else
        writeErr(kind + QStringLiteral(": ") + text);
}

void HeadlessPolicy::reportBox(const QString& line, const QString& text, const QString& caption,
                               BoxButtons buttons, BoxAnswer answer) const {
    if (!enabled)
        return;
    if (!json) {
        writeErr(line);
        return;
    }
    json(QStringLiteral("box"), {{QStringLiteral("caption"), caption},
                                 {QStringLiteral("text"), text},
                                 {QStringLiteral("buttons"), QJsonArray::fromStringList(
                                                                 buttonNames(buttons))},
                                 {QStringLiteral("answer"), answerName(answer)}});
}

void HeadlessPolicy::reportProgress(qint64 position, qint64 maximum) const {
    if (!enabled)
        return;
    if (json)
        json(QStringLiteral("progress"),
             {{QStringLiteral("position"), position}, {QStringLiteral("maximum"), maximum}});
    else
        writeErr(QStringLiteral("progress: %1/%2").arg(position).arg(maximum));
}

QStringList HeadlessPolicy::buttonNames(BoxButtons buttons) {
    switch (buttons) {
    case BoxButtons::Ok:
        return {QStringLiteral("OK")};
    case BoxButtons::OkCancel:
        return {QStringLiteral("OK"), QStringLiteral("Cancel")};
    case BoxButtons::YesNoCancel:
        return {QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Cancel")};
    case BoxButtons::YesOnly:
        return {QStringLiteral("Yes")};
    }
    return {};
}

QString HeadlessPolicy::answerName(BoxAnswer answer) {
    switch (answer) {
    case BoxAnswer::Ok:
        return QStringLiteral("OK");
    case BoxAnswer::Cancel:
        return QStringLiteral("Cancel");
    case BoxAnswer::Yes:
        return QStringLiteral("Yes");
    case BoxAnswer::No:
        return QStringLiteral("No");
    }
    return {};
}

BoxAnswer HeadlessPolicy::firstButton(BoxButtons buttons) {
    return buttons == BoxButtons::Ok || buttons == BoxButtons::OkCancel ? BoxAnswer::Ok
                                                                        : BoxAnswer::Yes;
}

} // namespace fw
