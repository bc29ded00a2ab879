#include "FuzzSupport.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace fw::fuzz {

void require(bool holds, const char* rule) {
    if (holds)
        return;
    std::fprintf(stderr, "broken rule: %s\n", rule);
    std::fflush(stderr);
    std::abort();
}

void ensureApp() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "fwfuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
}

BoxAnswer RecordingSinks::showBox(const QString& text, const QString& caption, BoxButtons buttons,
                                  BoxIcon) {
    boxes << caption + QStringLiteral(": ") + text;
    return buttons == BoxButtons::Ok || buttons == BoxButtons::OkCancel ? BoxAnswer::Ok
                                                                        : BoxAnswer::Yes;
}

void RecordingSinks::showMessageWindow(const MessageRecord&) {
    ++messageWindows;
}

} // namespace fw::fuzz
