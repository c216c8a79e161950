#pragma once

#include <QMainWindow>

#include "platform/Prompts.h"
#include "settings/Encript.h"

namespace kv {

/// The settings window: owner of every component of the program's window.
class TSecFrm : public QMainWindow {
    Q_OBJECT
public:
    TSecFrm(TEncriptor& store, IPrompts& prompts, QWidget* parent = nullptr);

    /// The show request of a second start or the hot key.
    void ShowMainWindow();

private:
    TEncriptor& store_;
    IPrompts& prompts_;
};

}  // namespace kv
