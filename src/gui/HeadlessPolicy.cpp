#include "HeadlessPolicy.h"

#include "ui/BatchedLineWriter.h"
#include "ui/Headless.h"

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
