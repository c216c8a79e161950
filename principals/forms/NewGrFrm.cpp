#include "principals/forms/NewGrFrm.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kv {

TNewGrFrm::TNewGrFrm(QWidget* parent) : QDialog(parent) {
    setObjectName("NewGrFrm");
    setWindowFlag(Qt::Tool);
    setWindowTitle("New Users Group");
    setFixedSize(223, 102);

    infolab_ = new QLabel("Enter New Group Name :", this);
    infolab_->setObjectName("Infolab");
    infolab_->move(8, 8);

    groupName_ = new QLineEdit(this);
    groupName_->setObjectName("GroupName");
    groupName_->setGeometry(8, 32, 209, 22);

    usGr_ = new QComboBox(this);
    usGr_->setObjectName("UsGr");
    usGr_->setEditable(true);
    usGr_->setGeometry(8, 32, 209, 22);
    usGr_->hide();

    okBtn_ = new QPushButton("OK", this);
    okBtn_->setObjectName("OKBtn");
    okBtn_->setGeometry(96, 72, 59, 25);
    connect(okBtn_, &QPushButton::clicked, this, &QDialog::accept);

    cancelBtn_ = new QPushButton("Cancel", this);
    cancelBtn_->setObjectName("CancelBtn");
    cancelBtn_->setGeometry(160, 72, 59, 25);
    connect(cancelBtn_, &QPushButton::clicked, this, &QDialog::reject);

    for (QWidget* w : {static_cast<QWidget*>(groupName_), static_cast<QWidget*>(usGr_),
                       static_cast<QWidget*>(okBtn_), static_cast<QWidget*>(cancelBtn_)}) {
        w->installEventFilter(this);
    }
    if (usGr_->lineEdit())
        usGr_->lineEdit()->installEventFilter(this);

    setTabOrder(groupName_, okBtn_);
    setTabOrder(okBtn_, cancelBtn_);
    groupName_->setFocus();
}

void TNewGrFrm::Prepare(const GroupDialogRequest& request) {
    choose_ = request.choose;
    setWindowTitle(QString::fromStdString(request.caption));
    infolab_->setText(QString::fromStdString(request.label));
    infolab_->adjustSize();
    groupName_->setVisible(!request.choose);
    usGr_->setVisible(request.choose);
    if (request.choose) {
        usGr_->clear();
        for (const std::string& item : request.items)
            usGr_->addItem(QString::fromStdString(item));
        usGr_->setEditText(QString::fromStdString(request.text));
        usGr_->setFocus();
    } else {
        groupName_->setText(QString::fromStdString(request.text));
        groupName_->setFocus();
    }
}

QString TNewGrFrm::Text() const {
    return choose_ ? usGr_->currentText() : groupName_->text();
}

bool TNewGrFrm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Escape:
                reject();
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                accept();
                return true;
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

std::optional<std::string> TNewGrDialogRunner::Run(const GroupDialogRequest& request) {
    TNewGrFrm form(owner_);
    form.Prepare(request);
    if (form.exec() != QDialog::Accepted)
        return std::nullopt;
    return form.Text().toStdString();
}

}  // namespace kv
