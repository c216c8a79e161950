#include "app/CtrlPanel.h"

#include <QScreen>

#include "app/Log.h"

namespace kv {

TSecFrm::TSecFrm(TEncriptor& store, IPrompts& prompts, QWidget* parent)
    : QMainWindow(parent), store_(store), prompts_(prompts) {
    setObjectName("SecFrm");
    setWindowTitle("Kestrava");
    resize(729, 444);
    if (const QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TSecFrm::ShowMainWindow() {
    qCInfo(lcApp) << "show request";
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

}  // namespace kv
