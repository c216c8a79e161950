#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/Prompts.h"

namespace kv::ui {

/// Message boxes of the window toolkit. With KESTRAVA_NONINTERACTIVE=1 in the
/// environment every box is written to stderr and answered with its safe
/// default (OK, No, Cancel), so scripted runs never wait for a person.
class QtPrompts : public IPrompts {
public:
    explicit QtPrompts(QWidget* owner = nullptr) : owner_(owner) {}
    void SetOwner(QWidget* owner) { owner_ = owner; }

    Answer Message(const std::string& text, const std::string& title, Buttons buttons,
                   MessageIcon icon) override;

private:
    QPointer<QWidget> owner_;
};

}  // namespace kv::ui
