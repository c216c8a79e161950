#pragma once

#include <QKeyEvent>
#include <QWidget>

#include "access/Passun.h"

namespace kv {

/// The form's key code of a key press the password forms preview: Escape (27),
/// Enter (13, either Return or the keypad's Enter), else 0.
inline int FormKeyCode(const QKeyEvent& event) {
    switch (event.key()) {
        case Qt::Key_Escape:
            return kKeyEscape;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kKeyEnter;
        default:
            return 0;
    }
}

/// Key preview: `form` sees the key presses of every control it holds first.
inline void InstallKeyPreview(QWidget* form) {
    for (QWidget* child : form->findChildren<QWidget*>())
        child->installEventFilter(form);
}

}  // namespace kv
