#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "rules/ProtectionOptions.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

class QLabel;

namespace kv {

class TCoolLabel;

/// The protection options dialog: page "General" with the four patterns and
/// Include Subfolders, page "File Operations" with the nineteen boxes of the
/// operation mask. It only shows and collects; TProtectionOptions decides what
/// is loaded and stored.
class TOptForm : public QDialog {
    Q_OBJECT
public:
    using HelpOpener = std::function<void(const std::string& topic)>;

    explicit TOptForm(QWidget* parent = nullptr, HelpOpener openHelp = {});

    /// Fills the controls for a mode, sets caption and help topic, shows
    /// SetDefault in mode 4 only, and locks what a fixed kind does not use.
    void LoadOptions(const OptionsDialogState& state);
    /// Disables every check box but SetDefault (and SubFolders in mode 1); in
    /// mode 2 also the file patterns and their captions.
    void LockFixedOptions(int mode);
    /// What the controls hold now.
    OptionsFields Collect() const;

    const std::string& HelpTopic() const { return helpTopic_; }
    /// A mask box by its name ("Rename"), or SubFolders/SetDefault; null if unknown.
    QCheckBox* Box(std::string_view name) const;
    TCoolLabel* CoolLabel(int number) const;
    /// The item whose options are edited, shown in full inside the dialog.
    QLabel* ItemPathLabel() const { return itemPath_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildGeneralPage(QWidget* page);
    void BuildOperationsPage(QWidget* page);
    void InstallKeyPreview();
    void OpenHelp(const std::string& topic);

    HelpOpener openHelp_;
    std::string helpTopic_;
    QLabel* itemPath_ = nullptr;
    QTabWidget* pages_ = nullptr;
    QLineEdit* incFiles_ = nullptr;
    QLineEdit* exFiles_ = nullptr;
    QLineEdit* proc_ = nullptr;
    QLineEdit* exProc_ = nullptr;
    QCheckBox* subFolders_ = nullptr;
    QCheckBox* setDefault_ = nullptr;
    TCoolLabel* labels_[4] = {};
    std::map<std::string, QCheckBox*, std::less<>> maskBoxes_;
};

/// Runs TOptForm modally for the protection options logic.
class TOptFormRunner : public IOptionsDialogRunner {
public:
    TOptFormRunner(QWidget* parent, TOptForm::HelpOpener openHelp)
        : parent_(parent), openHelp_(std::move(openHelp)) {}
    bool Run(const OptionsDialogState& state, OptionsFields* result) override;

private:
    QWidget* parent_;
    TOptForm::HelpOpener openHelp_;
};

}  // namespace kv
