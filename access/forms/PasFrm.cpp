#include "access/forms/PasFrm.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "access/forms/FormSupport.h"

namespace kv {

TPasFrm::TPasFrm(TPasFrmLogic& logic, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      logic_(logic) {
    setObjectName("PasFrm");
    setWindowTitle(kPasFrmCaption);

    // Top to bottom in the order the keyboard visits them: the two fields,
    // the mask switch that belongs to them, then the buttons.
    label1_ = new QLabel("Set the Administrator's Password  :", this);
    label1_->setObjectName("Label1");
    password_ = MakeField("Password");
    label1_->setBuddy(password_);
    label2_ = new QLabel("Confirm the password :", this);
    label2_->setObjectName("Label2");
    confirm_ = MakeField("Confirm");
    label2_->setBuddy(confirm_);

    checkBox1_ = new QCheckBox("Use a char mask to show password", this);
    checkBox1_->setObjectName("CheckBox1");
    checkBox1_->setChecked(true);

    button1_ = new QPushButton("OK", this);
    button1_->setObjectName("Button1");
    button2_ = new QPushButton("Cancel", this);
    button2_->setObjectName("Button2");
    for (QPushButton* b : {button1_, button2_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label1_);
    layout->addWidget(password_);
    layout->addWidget(label2_);
    layout->addWidget(confirm_);
    layout->addWidget(checkBox1_);
    layout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(button1_);
    buttons->addWidget(button2_);
    layout->addLayout(buttons);

    setTabOrder(password_, confirm_);
    setTabOrder(confirm_, checkBox1_);
    setTabOrder(checkBox1_, button1_);
    setTabOrder(button1_, button2_);

    // The designed client area is the least it takes.
    setMinimumSize(QSize(250, 156).expandedTo(layout->sizeHint()));
    resize(minimumSize());

    connect(button1_, &QPushButton::clicked, this, [this] { logic_.Button1Click(); });
    connect(button2_, &QPushButton::clicked, this, [this] { logic_.Button2Click(); });
    connect(checkBox1_, &QCheckBox::clicked, this,
            [this](bool checked) { logic_.CheckBox1Click(checked); });
    InstallKeyPreview(this);
}

TPasFrm::~TPasFrm() {
    WipeFields();
}

QLineEdit* TPasFrm::MakeField(const char* name) {
    auto* field = new QLineEdit(this);
    field->setObjectName(name);
    field->setEchoMode(QLineEdit::Password);
    MaskWithAsterisks(field);
    // Every letter typed becomes upper case; text put in by the program is kept.
    connect(field, &QLineEdit::textEdited, this, [field](const QString& text) {
        const QString upper = text.toUpper();
        if (upper == text)
            return;
        const int cursor = field->cursorPosition();
        field->setText(upper);
        field->setCursorPosition(std::min(cursor, static_cast<int>(upper.size())));
    });
    return field;
}

ModalResult TPasFrm::ShowModal() {
    result_ = ModalResult::None;
    password_->setFocus(Qt::OtherFocusReason);
    exec();
    return result_ == ModalResult::Ok ? ModalResult::Ok : ModalResult::Cancel;
}

void TPasFrm::Close(ModalResult result) {
    result_ = result;
    done(result == ModalResult::Ok ? QDialog::Accepted : QDialog::Rejected);
}

void TPasFrm::SetPasswordText(const std::string& text) {
    password_->setText(QString::fromStdString(text));
}

std::string TPasFrm::PasswordText() const {
    return FieldText(password_->text());
}

std::string TPasFrm::ConfirmText() const {
    return FieldText(confirm_->text());
}

void TPasFrm::ClearConfirm() {
    confirm_->clear();
    confirm_->setFocus(Qt::OtherFocusReason);
}

void TPasFrm::SetMasked(bool masked) {
    const auto mode = masked ? QLineEdit::Password : QLineEdit::Normal;
    password_->setEchoMode(mode);
    confirm_->setEchoMode(mode);
}

// QLineEdit::clear() also drops the field's undo history.
void TPasFrm::WipeFields() {
    password_->clear();
    confirm_->clear();
}

bool TPasFrm::KeyPreview(QKeyEvent* event) {
    const int key = FormKeyCode(*event);
    return key != 0 && logic_.FormKeyDown(key);
}

bool TPasFrm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && KeyPreview(static_cast<QKeyEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

void TPasFrm::keyPressEvent(QKeyEvent* event) {
    if (!KeyPreview(event))
        QDialog::keyPressEvent(event);
}

void TPasFrm::reject() {
    if (result_ == ModalResult::None)
        result_ = ModalResult::Cancel;
    QDialog::reject();
}

}  // namespace kv
