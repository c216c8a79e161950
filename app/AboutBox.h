#pragma once

#include <QDialog>

namespace kv {

/// The About box: the product's name and version; OK, Escape or Enter close it.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
};

}  // namespace kv
