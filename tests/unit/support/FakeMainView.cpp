#include "FakeMainView.h"

namespace fw::test {

FakeMainView::FakeMainView() = default;

Sinks FakeMainView::sinks() {
    Sinks s;
    s.log = this;
    s.status = this;
    s.progress = this;
    s.box = this;
    s.messageWindow = this;
    return s;
}

void FakeMainView::setIpItems(const QStringList& lines) {
    ipItems_ = sortedIpItems(lines);
    ipText_.clear();
}

void FakeMainView::setPasswordGeometry(int left, int width) {
    passwordLeft = left;
    passwordWidth = width;
}

void FakeMainView::placeGroup(Group g, int top, bool shown) {
    tops[size_t(g)] = top;
    visible[size_t(g)] = shown;
}

void FakeMainView::startStopTimer() {
    timerActive = true;
    ++timerStarts;
}

void FakeMainView::closeWindow() {
    ++closeAttempts;
    if (closed)
        return;
    if (!onCloseQuery || onCloseQuery()) {
        closed = true;
        timerActive = false;
    }
}

void FakeMainView::releaseWindow() {
    ++releaseCount;
    closed = true;
    timerActive = false;
}

void FakeMainView::showSearchWindow() {
    ++searchWindowShown;
    if (onSearchWindow)
        onSearchWindow();
}

std::optional<QStringList> FakeMainView::chooseUpgradeFiles() {
    ++fileDialogShown;
    return filesToChoose;
}

BoxAnswer FakeMainView::showBox(const QString& text, const QString& caption, BoxButtons buttons,
                                BoxIcon icon) {
    boxes.append(RecordedBox{text, caption, buttons, icon});
    if (!boxAnswers.empty()) {
        const BoxAnswer a = boxAnswers.front();
        boxAnswers.pop_front();
        return a;
    }
    return buttons == BoxButtons::Ok || buttons == BoxButtons::OkCancel ? BoxAnswer::Ok
                                                                        : BoxAnswer::Yes;
}

bool FakeMainView::tick() {
    if (!timerActive)
        return false;
    if (onTick)
        onTick();
    return true;
}

} // namespace fw::test
