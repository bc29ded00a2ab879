#include "HeadlessPolicy.h"

#include "ui/Headless.h"

#include <cstdio>

namespace fw {

namespace {
void writeLine(std::FILE* stream, const QString& line) {
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
} // namespace

HeadlessPolicy HeadlessPolicy::fromEnvironment() {
    HeadlessPolicy p;
    p.enabled = headlessRun();
    p.out = [](const QString& line) { writeLine(stdout, line); };
    p.err = [](const QString& line) { writeLine(stderr, line); };
    return p;
}

HeadlessPolicy HeadlessPolicy::capture(Writer out, Writer err) {
    HeadlessPolicy p;
    p.enabled = true;
    p.out = std::move(out);
    p.err = std::move(err);
    return p;
}

BoxAnswer HeadlessPolicy::firstButton(BoxButtons buttons) {
    return buttons == BoxButtons::Ok || buttons == BoxButtons::OkCancel ? BoxAnswer::Ok
                                                                        : BoxAnswer::Yes;
}

} // namespace fw
