#include "options/forms/PrOptFrm.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStyle>
#include <algorithm>

#include "access/forms/FormSupport.h"
#include "options/forms/HotKeyField.h"

namespace kv {

namespace {

QCheckBox* MakeBox(QWidget* panel, const char* name, const char* text, int x, int y, int width) {
    auto* box = new QCheckBox(text, panel);
    box->setObjectName(name);
    box->setChecked(true);
    box->setGeometry(x, y, width, 20);
    return box;
}

QLabel* MakeLabel(QWidget* panel, const char* name, const char* text, int x, int y, int width,
                  int height) {
    auto* label = new QLabel(text, panel);
    label->setObjectName(name);
    label->setGeometry(x, y, width, height);
    return label;
}

}  // namespace

TPrOptFrm::TPrOptFrm(TPrOptFrmLogic& logic, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      logic_(logic) {
    setObjectName("PrOptFrm");
    setWindowTitle(kPrOptFrmCaption);
    // The panels scroll above the buttons where the screen is lower than the
    // form (489 pixels do not fit 1280 x 800 at twice the scale).
    body_ = new QWidget;
    body_->setObjectName("Body");
    body_->setFixedSize(400, 451);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("BodyScroll");
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidget(body_);
    scroll_->setGeometry(0, 0, 400, 451);
    resize(400, 489);
    setMinimumSize(400, 160);
    setMaximumSize(400 + style()->pixelMetric(QStyle::PM_ScrollBarExtent), 489);

    // Panel 1: the administrator's password.
    QFrame* pass = MakePanel("PasswordPanel", 6, 148);
    auto* label1 = MakeLabel(pass, "Label1",
                             "Define the administrator password to secure an access to "
                             "program settings",
                             8, 4, 372, 32);
    label1->setWordWrap(true);
    MakeLabel(pass, "Label2", "Enter Password :", 8, 42, 130, 20);
    password_ = MakePasswordField(pass, "Password", 40);
    MakeLabel(pass, "Label3", "Confirm Password :", 8, 72, 130, 20);
    confirm_ = MakePasswordField(pass, "Confirm", 70);
    checkBox1_ = MakeBox(pass, "CheckBox1", "Use a char mask to show password", 8, 104, 360);

    // Panel 2: the hardening options.
    QFrame* hard = MakePanel("HardeningPanel", 158, 164);
    const std::string hardeningText = logic_.HardeningText();
    auto* label5 = MakeLabel(hard, "Label5", hardeningText.c_str(), 6, 6, 378, 100);
    // A smaller font, small enough that the longest line fits the panel.
    QFont small = label5->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    const QStringList lines = QString::fromStdString(hardeningText).split('\n');
    auto widest = [&lines](const QFont& font) {
        int width = 0;
        for (const QString& line : lines)
            width = std::max(width, QFontMetrics(font).horizontalAdvance(line));
        return width;
    };
    while (widest(small) > label5->width() - 4 && small.pointSizeF() > 6)
        small.setPointSizeF(small.pointSizeF() - 0.5);
    label5->setFont(small);
    label5->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    disableBoot_ = MakeBox(hard, "DisableBOOT", kBootBoxText, 8, 112, 300);
    disableMsDos_ = MakeBox(hard, "DisableMSDOS", kRecoveryBoxText, 8, 136, 300);
    auto* image1 = new QLabel(hard);
    image1->setObjectName("Image1");
    image1->setGeometry(340, 114, 40, 40);
    image1->setScaledContents(true);
    image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));

    // Panels 3 and 4: automatic protection and the tray.
    QFrame* autoPanel = MakePanel("AutoPanel", 326, 32);
    auto_ = MakeBox(autoPanel, "Auto", kAutoBoxText, 8, 5, 372);
    QFrame* trayPanel = MakePanel("TrayPanel", 362, 32);
    mini_ = MakeBox(trayPanel, "Mini", kMiniBoxText, 8, 5, 372);

    // Panel 5: the hot key.
    QFrame* keyPanel = MakePanel("HotKeyPanel", 398, 50);
    MakeLabel(keyPanel, "Label4", "Define Hot Keys to show the settings window :", 8, 4, 372, 18);
    hotKey1_ = new THotKeyField(keyPanel);
    hotKey1_->setObjectName("HotKey1");
    hotKey1_->setGeometry(8, 23, 200, 22);

    okButton_ = new QPushButton("OK", this);
    okButton_->setObjectName("OKButton");
    okButton_->setGeometry(116, 457, 75, 25);
    cnclButton_ = new QPushButton("Cancel", this);
    cnclButton_->setObjectName("CNCLButton");
    cnclButton_->setGeometry(209, 457, 75, 25);
    for (QPushButton* b : {okButton_, cnclButton_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    setTabOrder(password_, confirm_);
    setTabOrder(confirm_, checkBox1_);
    setTabOrder(checkBox1_, disableBoot_);
    setTabOrder(disableBoot_, disableMsDos_);
    setTabOrder(disableMsDos_, auto_);
    setTabOrder(auto_, mini_);
    setTabOrder(mini_, hotKey1_);
    setTabOrder(hotKey1_, okButton_);
    setTabOrder(okButton_, cnclButton_);

    connect(okButton_, &QPushButton::clicked, this, [this] { logic_.OKButtonClick(); });
    connect(cnclButton_, &QPushButton::clicked, this, [this] { logic_.CNCLButtonClick(); });
    connect(auto_, &QCheckBox::clicked, this, [this] { logic_.AutoClick(); });
    connect(checkBox1_, &QCheckBox::clicked, this,
            [this](bool checked) { logic_.CheckBox1Click(checked); });
}

TPrOptFrm::~TPrOptFrm() {
    WipeFields();
}

void TPrOptFrm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // Wider by the scroll bar while the panels do not fit; the buttons keep
    // their place below them.
    const int bar = height() < 489 ? style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0;
    if (width() != 400 + bar) {
        resize(400 + bar, height());
        return;
    }
    scroll_->setGeometry(0, 0, width(), height() - 38);
    const int buttons = height() - 32;
    okButton_->move(116, buttons);
    cnclButton_->move(209, buttons);
}

QFrame* TPrOptFrm::MakePanel(const char* name, int y, int height) {
    auto* panel = new QFrame(body_);
    panel->setObjectName(name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    panel->setGeometry(6, y, 388, height);
    return panel;
}

QLineEdit* TPrOptFrm::MakePasswordField(QWidget* panel, const char* name, int y) {
    auto* field = new QLineEdit(panel);
    field->setObjectName(name);
    field->setEchoMode(QLineEdit::Password);
    MaskWithAsterisks(field);
    field->setGeometry(142, y, 236, 22);
    return field;
}

QCheckBox* TPrOptFrm::Box(PrOptBox box) const {
    switch (box) {
        case PrOptBox::Auto:
            return auto_;
        case PrOptBox::Mini:
            return mini_;
        case PrOptBox::DisableBOOT:
            return disableBoot_;
        case PrOptBox::DisableMSDOS:
            break;
    }
    return disableMsDos_;
}

ModalResult TPrOptFrm::ShowModal() {
    result_ = ModalResult::None;
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->window()->frameGeometry();
        move(area.center() - rect().center());
    }
    password_->setFocus(Qt::OtherFocusReason);
    exec();
    return result_ == ModalResult::Ok ? ModalResult::Ok : ModalResult::Cancel;
}

void TPrOptFrm::Close(ModalResult result) {
    result_ = result;
    done(result == ModalResult::Ok ? QDialog::Accepted : QDialog::Rejected);
}

void TPrOptFrm::SetPasswordText(const std::string& text) {
    password_->setText(QString::fromStdString(text));
}

std::string TPrOptFrm::PasswordText() const {
    return FieldText(password_->text());
}

std::string TPrOptFrm::ConfirmText() const {
    return FieldText(confirm_->text());
}

void TPrOptFrm::ClearConfirm() {
    confirm_->clear();
    confirm_->setFocus(Qt::OtherFocusReason);
}

void TPrOptFrm::SetMasked(bool masked) {
    const auto mode = masked ? QLineEdit::Password : QLineEdit::Normal;
    password_->setEchoMode(mode);
    confirm_->setEchoMode(mode);
}

bool TPrOptFrm::Checked(PrOptBox box) const {
    return Box(box)->isChecked();
}

void TPrOptFrm::SetChecked(PrOptBox box, bool checked) {
    Box(box)->setChecked(checked);
}

void TPrOptFrm::SetMiniEnabled(bool enabled) {
    mini_->setEnabled(enabled);
}

std::uint16_t TPrOptFrm::HotKey() const {
    return hotKey1_->Code();
}

void TPrOptFrm::SetHotKey(std::uint16_t code) {
    hotKey1_->SetCode(code);
}

void TPrOptFrm::WipeFields() {
    password_->clear();
    confirm_->clear();
}

void TPrOptFrm::keyPressEvent(QKeyEvent* event) {
    const int key = FormKeyCode(*event);
    if (key == 0 || !logic_.FormKeyDown(key))
        QDialog::keyPressEvent(event);
}

void TPrOptFrm::reject() {
    if (result_ == ModalResult::None)
        result_ = ModalResult::Cancel;
    QDialog::reject();
}

}  // namespace kv
