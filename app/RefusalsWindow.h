#pragma once

#include <QDialog>
#include <cstdint>
#include <map>
#include <utility>

#include "enforce/DenialReader.h"

class QComboBox;
class QLabel;
class QTableWidget;
class QTimer;

namespace kv {

/// View > Refusals: the service's denial log, one row per refusal (time,
/// user, program, operation, path, the rule that refused it), filtered by
/// user and read again every second while the window is open.
class TRefusalsWindow : public QDialog {
    Q_OBJECT
public:
    TRefusalsWindow(const TDenialReader& reader, QWidget* parent = nullptr);

    /// Reads the refusals that came since the last reading.
    void Refresh();
    QTableWidget* Table() const { return table_; }
    QComboBox* UserFilter() const { return filter_; }
    QLabel* State() const { return state_; }

    enum Column { kTime, kUser, kProgram, kOperation, kPath, kRule, kColumns };

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void AddRow(const driver::Denial& denial);
    void ApplyFilter();
    QString RuleText(const driver::Denial& denial);

    const TDenialReader& reader_;
    QTableWidget* table_;
    QComboBox* filter_;
    QLabel* state_;
    QTimer* timer_;
    std::uint32_t last_ = 0;
    std::map<std::pair<uid_t, std::uint32_t>, QString> rules_;
};

}  // namespace kv
