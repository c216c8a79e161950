#pragma once

#include <QList>
#include <QString>

class QMainWindow;
class QSplitter;

namespace kv::ui {

/// Keeps the window's placement and the widths of its panes between runs in an
/// INI file named after the executable.
class TFormStorage {
public:
    explicit TFormStorage(QString iniPath) : iniPath_(std::move(iniPath)) {}

    /// Restores what was stored, brought inside the screen; leaves the window
    /// as it is when nothing was.
    void Restore(QMainWindow& window, QSplitter& panes) const;
    void Store(const QMainWindow& window, const QSplitter& panes) const;

    const QString& IniPath() const { return iniPath_; }

private:
    QString iniPath_;
};

}  // namespace kv::ui
