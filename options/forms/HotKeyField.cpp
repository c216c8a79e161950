#include "options/forms/HotKeyField.h"

#include <QKeyEvent>

#include "options/HotKeyText.h"

namespace kv {

std::uint8_t VirtualKeyOfQtKey(int qtKey) {
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return static_cast<std::uint8_t>('A' + (qtKey - Qt::Key_A));
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return static_cast<std::uint8_t>('0' + (qtKey - Qt::Key_0));
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return static_cast<std::uint8_t>(kVkF1 + (qtKey - Qt::Key_F1));
    switch (qtKey) {
        case Qt::Key_Backspace:
            return 0x08;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 0x09;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 0x0D;
        case Qt::Key_Escape:
            return 0x1B;
        case Qt::Key_Space:
            return 0x20;
        case Qt::Key_PageUp:
            return 0x21;
        case Qt::Key_PageDown:
            return 0x22;
        case Qt::Key_End:
            return 0x23;
        case Qt::Key_Home:
            return 0x24;
        case Qt::Key_Left:
            return 0x25;
        case Qt::Key_Up:
            return 0x26;
        case Qt::Key_Right:
            return 0x27;
        case Qt::Key_Down:
            return 0x28;
        case Qt::Key_Insert:
            return 0x2D;
        case Qt::Key_Delete:
            return 0x2E;
        default:
            return 0;
    }
}

THotKeyField::THotKeyField(QWidget* parent) : QLineEdit(parent) {
    setContextMenuPolicy(Qt::NoContextMenu);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    SetCode(0);
}

void THotKeyField::SetCode(std::uint16_t code) {
    code_ = code;
    const std::string text = HotKeyToText(code);
    setText(text.empty() ? QStringLiteral("None") : QString::fromStdString(text));
}

// Tab and Shift+Tab alone keep moving the focus; with Ctrl or Alt they are keys.
bool THotKeyField::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers held =
            key->modifiers() & (Qt::ControlModifier | Qt::AltModifier);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && held) {
            keyPressEvent(key);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void THotKeyField::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool ctrl = mods & Qt::ControlModifier;
    const bool alt = mods & Qt::AltModifier;
    const bool shift = mods & Qt::ShiftModifier;
    const int key = event->key();
    if (!ctrl && !alt && !shift) {
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
            event->ignore();  // the form's keys
            return;
        }
        if (key == Qt::Key_Backspace || key == Qt::Key_Delete) {
            SetCode(0);
            event->accept();
            return;
        }
    }
    const std::uint8_t vk = VirtualKeyOfQtKey(key);
    if (vk == 0) {
        event->accept();  // a modifier alone or a key a hot key cannot use
        return;
    }
    std::uint16_t code = vk;
    if (shift)
        code |= kHotKeyShift;
    if (ctrl)
        code |= kHotKeyCtrl;
    if (alt || !ctrl)
        code |= kHotKeyAlt;
    SetCode(code);
    event->accept();
}

}  // namespace kv
