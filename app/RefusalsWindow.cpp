#include "app/RefusalsWindow.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/Accounts.h"

namespace kv {

namespace {

constexpr char kAllUsers[] = "All users";

QString UserText(uid_t uid) {
    const std::string name = platform::AccountNameOf(uid);
    return name.empty() ? QString("uid %1").arg(uid) : QString::fromStdString(name);
}

}  // namespace

TRefusalsWindow::TRefusalsWindow(const TDenialReader& reader, QWidget* parent)
    : QDialog(parent, Qt::Window), reader_(reader) {
    setObjectName("RefusalsWindow");
    setWindowTitle("Refusals");
    filter_ = new QComboBox(this);
    filter_->setObjectName("UserFilter");
    filter_->addItem(kAllUsers);
    auto* filterLabel = new QLabel("&User:", this);
    filterLabel->setBuddy(filter_);
    state_ = new QLabel(this);
    table_ = new QTableWidget(0, kColumns, this);
    table_->setHorizontalHeaderLabels(
        {"Time", "User", "Program", "Operation", "Path", "Refused by"});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setWordWrap(false);

    auto* top = new QHBoxLayout;
    top->addWidget(filterLabel);
    top->addWidget(filter_);
    top->addStretch(1);
    top->addWidget(state_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table_, 1);

    connect(filter_, &QComboBox::currentTextChanged, this, [this] { ApplyFilter(); });
    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &TRefusalsWindow::Refresh);
    const QFontMetrics metrics(font());
    resize(metrics.averageCharWidth() * 130, metrics.height() * 30);
}

void TRefusalsWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Refresh();
    timer_->start();
}

void TRefusalsWindow::hideEvent(QHideEvent* event) {
    timer_->stop();
    QDialog::hideEvent(event);
}

QString TRefusalsWindow::RuleText(const driver::Denial& denial) {
    const auto key = std::make_pair(denial.uid, denial.entry);
    auto found = rules_.find(key);
    if (found == rules_.end()) {
        // The entry as the table holds it now; a table loaded since may differ.
        const std::string mask = reader_.EntryMask(denial.uid, denial.entry);
        QString text = QString("entry %1").arg(denial.entry);
        if (!mask.empty())
            text += ": " + QString::fromStdString(driver::PrintableText(mask));
        found = rules_.emplace(key, text).first;
    }
    return found->second;
}

void TRefusalsWindow::AddRow(const driver::Denial& denial) {
    const int row = table_->rowCount();
    table_->insertRow(row);
    const QString user = UserText(denial.uid);
    const QString cells[kColumns] = {
        QDateTime::fromSecsSinceEpoch(denial.time).toString("yyyy-MM-dd HH:mm:ss"),
        user,
        QString::fromStdString(driver::PrintableText(denial.process)),
        QString::fromStdString(driver::OperationNames(denial.operation)),
        QString::fromStdString(driver::PrintableText(denial.path)),
        RuleText(denial)};
    for (int column = 0; column < kColumns; ++column)
        table_->setItem(row, column, new QTableWidgetItem(cells[column]));
    if (filter_->findText(user) < 0)
        filter_->addItem(user);
    const QString chosen = filter_->currentText();
    table_->setRowHidden(row, chosen != kAllUsers && chosen != user);
}

void TRefusalsWindow::ApplyFilter() {
    const QString chosen = filter_->currentText();
    for (int row = 0; row < table_->rowCount(); ++row) {
        table_->setRowHidden(row,
                             chosen != kAllUsers && table_->item(row, kUser)->text() != chosen);
    }
}

void TRefusalsWindow::Refresh() {
    const std::optional<std::vector<driver::Denial>> denials = reader_.After(last_);
    if (!denials) {
        state_->setText("The interceptor service does not answer.");
        return;
    }
    for (const driver::Denial& denial : *denials) {
        AddRow(denial);
        last_ = denial.sequence;
    }
    state_->setText(QString("%1 refusals").arg(table_->rowCount()));
    if (!denials->empty())
        table_->scrollToBottom();
}

}  // namespace kv
