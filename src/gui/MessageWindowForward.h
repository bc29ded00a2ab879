#pragma once
// A message window sink whose target is set after the window exists (null: nothing is shown).
// GUI thread.

#include "ui/Sinks.h"

namespace fw {

class MessageWindowForward final : public MessageWindowSink {
public:
    void setTarget(MessageWindowSink* target) { target_ = target; }
    MessageWindowSink* target() const { return target_; }
    void showMessageWindow(const MessageRecord& record) override {
        if (target_)
            target_->showMessageWindow(record);
    }

private:
    MessageWindowSink* target_ = nullptr;
};

} // namespace fw
