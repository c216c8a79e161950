#pragma once

#include <QLineEdit>
#include <cstdint>

namespace kv {

/// The virtual-key code of a Qt key, for the keys a hot key may use (letters,
/// digits of the main keyboard and the keypad, F1-F24 and the named keys of
/// the hot key text); 0 for any other key.
std::uint8_t VirtualKeyOfQtKey(int qtKey);

/// A hot key field: pressing a combination makes it the field's code and
/// shows its text ("Ctrl+A"). A key pressed alone or with Shift as its only
/// modifier gets Alt added (A becomes Alt+A, Shift+A becomes Shift+Alt+A).
/// Backspace or Delete alone empties the field (code 0); Tab moves the focus
/// and Escape and Enter alone go to the form, as in any other field.
class THotKeyField : public QLineEdit {
    Q_OBJECT
public:
    explicit THotKeyField(QWidget* parent = nullptr);

    std::uint16_t Code() const { return code_; }
    void SetCode(std::uint16_t code);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    std::uint16_t code_ = 0;
};

}  // namespace kv
