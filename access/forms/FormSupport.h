#pragma once

#include <QByteArray>
#include <QKeyEvent>
#include <QString>
#include <QWidget>
#include <string>

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

/// The UTF-8 bytes of a field's text; the conversion buffer is overwritten
/// before it is freed, so no stray copy of a password is left behind.
inline std::string FieldText(const QString& text) {
    QByteArray utf8 = text.toUtf8();
    std::string out(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    volatile char* p = utf8.data();
    for (qsizetype i = 0; i < utf8.size(); ++i)
        p[i] = 0;
    return out;
}

/// Masked fields show "*" for each character.
inline void MaskWithAsterisks(QWidget* field) {
    field->setStyleSheet("lineedit-password-character: 42;");
}

/// Key preview: `form` sees the key presses of every control it holds first.
inline void InstallKeyPreview(QWidget* form) {
    for (QWidget* child : form->findChildren<QWidget*>())
        child->installEventFilter(form);
}

}  // namespace kv
