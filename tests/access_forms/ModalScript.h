#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace kv::test {

/// Runs `script` on the next modal dialog of type T once it is shown, from the
/// event loop of its exec(). A dialog still open after a few seconds is
/// rejected, so a failing test never blocks.
template <typename T>
void WhenModal(std::function<void(T*)> script, int triesLeft = 200) {
    QTimer::singleShot(10, [script = std::move(script), triesLeft]() mutable {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            if (triesLeft > 0)
                WhenModal<T>(std::move(script), triesLeft - 1);
            else
                ADD_FAILURE() << "no modal dialog appeared";
            return;
        }
        QPointer<QDialog> guard(dialog);
        QTimer::singleShot(5000, [guard] {
            if (guard && guard->isVisible()) {
                ADD_FAILURE() << "the dialog was left open";
                guard->reject();
            }
        });
        script(dialog);
    });
}

}  // namespace kv::test
