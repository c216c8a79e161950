#include "ui/FormStorage.h"

#include "ui/DialogLook.h"

#include <QMainWindow>
#include <QSettings>
#include <QSplitter>

namespace kv::ui {

namespace {
// Pane order in the splitter: UserGroups, DriveView1, DirView1.
const char* const kPaneKeys[] = {"UserGroups.Width", "DriveView1.Width", "DirView1.Width"};
}  // namespace

void TFormStorage::Restore(QMainWindow& window, QSplitter& panes) const {
    QSettings ini(iniPath_, QSettings::IniFormat);
    ini.beginGroup("SecFrm");
    const QByteArray geometry = ini.value("Placement").toByteArray();
    if (!geometry.isEmpty()) {
        window.restoreGeometry(geometry);
        // Stored on another screen, or on a larger one: brought inside this one.
        if (!window.isMaximized() && !window.isFullScreen())
            FitWindowToScreen(window);
    }
    QList<int> sizes = panes.sizes();
    bool any = false;
    for (int i = 0; i < sizes.size() && i < 3; ++i) {
        bool ok = false;
        const int width = ini.value(kPaneKeys[i]).toInt(&ok);
        if (ok && width >= 50 && width <= 10000) {
            sizes[i] = width;
            any = true;
        }
    }
    if (any)
        panes.setSizes(sizes);
    ini.endGroup();
}

void TFormStorage::Store(const QMainWindow& window, const QSplitter& panes) const {
    QSettings ini(iniPath_, QSettings::IniFormat);
    ini.beginGroup("SecFrm");
    ini.setValue("Placement", window.saveGeometry());
    const QList<int> sizes = panes.sizes();
    for (int i = 0; i < sizes.size() && i < 3; ++i)
        ini.setValue(kPaneKeys[i], sizes[i]);
    ini.endGroup();
    ini.sync();
}

}  // namespace kv::ui
