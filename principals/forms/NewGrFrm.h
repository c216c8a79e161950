#pragma once

#include <QDialog>

#include "principals/GroupCommands.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kv {

/// The small group dialog: a name field for a new group, or a list to choose a
/// user or a group from. Escape cancels and Enter confirms wherever the focus is.
class TNewGrFrm : public QDialog {
    Q_OBJECT
public:
    explicit TNewGrFrm(QWidget* parent = nullptr);

    /// Prepares the dialog for a request (the designed state shows the name field).
    void Prepare(const GroupDialogRequest& request);
    /// The typed name or the chosen entry.
    QString Text() const;

protected:
    /// Key preview: Escape and Enter reach the form before any control.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* infolab_;
    QLineEdit* groupName_;
    QComboBox* usGr_;
    QPushButton* okBtn_;
    QPushButton* cancelBtn_;
    bool choose_ = false;
};

/// Shows `TNewGrFrm` modally over the main window.
class TNewGrDialogRunner : public IGroupDialog {
public:
    explicit TNewGrDialogRunner(QWidget* owner) : owner_(owner) {}
    std::optional<std::string> Run(const GroupDialogRequest& request) override;

private:
    QWidget* owner_;
};

}  // namespace kv
