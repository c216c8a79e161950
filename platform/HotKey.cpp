#include "platform/HotKey.h"

namespace kv {

unsigned HotKeyModifiers(std::uint16_t key) {
    unsigned modifiers = 0;
    if (key & kHotKeyShift)
        modifiers |= kModShift;
    if (key & kHotKeyAlt)
        modifiers |= kModAlt;
    if (key & kHotKeyCtrl)
        modifiers |= kModControl;
    return modifiers;
}

unsigned HotKeyVirtualKey(std::uint16_t key) {
    return key & 0xFFu;
}

TfisHotKey::TfisHotKey(IHotKeyRegistrar& registrar) : registrar_(registrar) {
    registrar_.SetOnPressed([this] { HotKeyPressed(); });
}

TfisHotKey::~TfisHotKey() {
    Unregister();
    registrar_.SetOnPressed(nullptr);
}

void TfisHotKey::Loaded() {
    if (enabled_)
        Register();
}

void TfisHotKey::SetEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled_)
        Register();
    else
        Unregister();
}

void TfisHotKey::SetKey(std::uint16_t key) {
    if (key == key_)
        return;
    key_ = key;
    Unregister();
    if (enabled_)
        Register();
}

void TfisHotKey::Register() {
    if (registered_)
        return;
    registered_ = registrar_.Register(HotKeyModifiers(key_), HotKeyVirtualKey(key_));
}

void TfisHotKey::Unregister() {
    if (!registered_)
        return;
    registrar_.Unregister();
    registered_ = false;
}

void TfisHotKey::HotKeyPressed() {
    if (OnHotKey)
        OnHotKey(*this);
}

}  // namespace kv
