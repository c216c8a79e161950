#include "ui/QtPrompts.h"

#include <QMessageBox>
#include <cstdio>

namespace kv::ui {

namespace {

Answer DefaultAnswer(Buttons buttons) {
    switch (buttons) {
        case Buttons::Ok:
            return Answer::Ok;
        case Buttons::YesNo:
            return Answer::No;
        case Buttons::YesNoCancel:
            return Answer::Cancel;
    }
    return Answer::Cancel;
}

}  // namespace

Answer QtPrompts::Message(const std::string& text, const std::string& title, Buttons buttons,
                          MessageIcon icon) {
    if (NonInteractive()) {
        std::fprintf(stderr, "[%s] %s\n", title.c_str(), text.c_str());
        return DefaultAnswer(buttons);
    }
    QMessageBox box(owner_);
    box.setWindowTitle(QString::fromStdString(title));
    box.setText(QString::fromStdString(text));
    switch (icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    switch (buttons) {
        case Buttons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case Buttons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case Buttons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Ok:
            return Answer::Ok;
        default:
            return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
}

}  // namespace kv::ui
