#include "principals/forms/NewGrFrm.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kv {

TNewGrFrm::TNewGrFrm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName("NewGrFrm");
    setWindowTitle("New Users Group");

    infolab_ = new QLabel("Enter New Group Name :", this);
    infolab_->setObjectName("Infolab");

    groupName_ = new QLineEdit(this);
    groupName_->setObjectName("GroupName");

    usGr_ = new QComboBox(this);
    usGr_->setObjectName("UsGr");
    usGr_->setEditable(true);
    usGr_->hide();

    okBtn_ = new QPushButton("OK", this);
    okBtn_->setObjectName("OKBtn");
    connect(okBtn_, &QPushButton::clicked, this, &QDialog::accept);

    cancelBtn_ = new QPushButton("Cancel", this);
    cancelBtn_->setObjectName("CancelBtn");
    connect(cancelBtn_, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(infolab_);
    layout->addWidget(groupName_);
    layout->addWidget(usGr_);
    layout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okBtn_);
    buttons->addWidget(cancelBtn_);
    layout->addLayout(buttons);

    for (QWidget* w : {static_cast<QWidget*>(groupName_), static_cast<QWidget*>(usGr_),
                       static_cast<QWidget*>(okBtn_), static_cast<QWidget*>(cancelBtn_)}) {
        w->installEventFilter(this);
    }
    if (usGr_->lineEdit())
        usGr_->lineEdit()->installEventFilter(this);

    setTabOrder(groupName_, usGr_);
    setTabOrder(usGr_, okBtn_);
    setTabOrder(okBtn_, cancelBtn_);
    // The designed client area is the least it takes.
    setMinimumSize(QSize(223, 102).expandedTo(layout->sizeHint()));
    resize(minimumSize());
    groupName_->setFocus();
}

void TNewGrFrm::Prepare(const GroupDialogRequest& request) {
    choose_ = request.choose;
    setWindowTitle(QString::fromStdString(request.caption));
    infolab_->setText(QString::fromStdString(request.label));
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
