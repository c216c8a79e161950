#include "rules/forms/OptForm.h"

#include <QLabel>
#include <QScreen>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

#include "rules/Schema.h"
#include "rules/forms/CoolLabel.h"

namespace kv {

namespace {

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLineEdit* MakeEdit(const char* name, const QString& text, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    return edit;
}

QScrollArea* Scrolled(QWidget* page) {
    auto* scroll = new QScrollArea;
    scroll->setObjectName(page->objectName() + "Scroll");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(page);
    return scroll;
}

}  // namespace

TOptForm::TOptForm(QWidget* parent, HelpOpener openHelp)
    : QDialog(parent), openHelp_(std::move(openHelp)) {
    setObjectName("OptForm");
    setWindowTitle(kInitialOptionsCaption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    resize(498, 354);

    auto* layout = new QVBoxLayout(this);
    itemPath_ = new QLabel(this);
    itemPath_->setObjectName("ItemPath");
    itemPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    itemPath_->setWordWrap(true);
    itemPath_->hide();
    layout->addWidget(itemPath_);
    pages_ = new QTabWidget(this);
    pages_->setObjectName("PageControl1");
    auto* general = new QWidget;
    general->setObjectName("GeneralOpt");
    auto* operations = new QWidget;
    operations->setObjectName("FileOper");
    BuildGeneralPage(general);
    BuildOperationsPage(operations);
    // Each page scrolls where the screen is lower than the form (1280 x 800
    // at twice the scale), so that the buttons below stay in sight.
    pages_->addTab(Scrolled(general), "General");
    pages_->addTab(Scrolled(operations), "File Operations");
    layout->addWidget(pages_, 1);

    auto* bottom = new QWidget(this);
    bottom->setObjectName("Panel1");
    auto* row = new QHBoxLayout(bottom);
    row->setContentsMargins(0, 0, 0, 0);
    setDefault_ = new QCheckBox("Set as Default Custom Settings", bottom);
    setDefault_->setObjectName("SetDefault");
    auto* help = new QPushButton("Help", bottom);
    help->setObjectName("HelpButton");
    help->setAutoDefault(false);
    auto* ok = new QPushButton("OK", bottom);
    ok->setObjectName("OKButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", bottom);
    cancel->setObjectName("CancelButton");
    cancel->setAutoDefault(false);
    row->addWidget(setDefault_);
    row->addStretch(1);
    row->addWidget(help);
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addWidget(bottom);

    connect(help, &QPushButton::clicked, this, [this] { OpenHelp(helpTopic_); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    for (TCoolLabel* label : labels_)
        connect(label, &TCoolLabel::clicked, this, [this] { OpenHelp(kPatternsHelpTopic); });
    // After the page's controls the keyboard reaches the bottom panel.
    setTabOrder(subFolders_, setDefault_);
    setTabOrder(setDefault_, help);
    setTabOrder(help, ok);
    setTabOrder(ok, cancel);

    InstallKeyPreview();
}

void TOptForm::BuildGeneralPage(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    const auto labelled = [&](int number, const QString& caption, QLineEdit* edit) {
        auto* label = new TCoolLabel(caption, page);
        label->setObjectName(QString("CoolLabel%1").arg(number));
        label->setBuddy(edit);
        labels_[number - 1] = label;
        layout->addWidget(label);
        layout->addWidget(edit);
    };
    incFiles_ = MakeEdit("IncFiles", "*", page);
    exFiles_ = MakeEdit("ExFiles", "", page);
    proc_ = MakeEdit("Proc", "*", page);
    exProc_ = MakeEdit("ExProc", "", page);
    labelled(
        3, "Set pattern of folders (files) you want to include to the \"black\" list :", incFiles_);
    labelled(4, "Set pattern of folders (files) you want to exclude from the \"black\" list :",
             exFiles_);
    labelled(1,
             "Set pattern of proccesses to include in the \"black\" list of processes (set * for "
             "all proccesses ) :",
             proc_);
    labelled(2, "Set pattern of proccesses you want to exclude from the \"black\" list :", exProc_);
    subFolders_ = new QCheckBox("Include Subfolders", page);
    subFolders_->setObjectName("SubFolders");
    subFolders_->setChecked(true);
    layout->addWidget(subFolders_);
    layout->addStretch(1);
    setTabOrder(incFiles_, exFiles_);
    setTabOrder(exFiles_, proc_);
    setTabOrder(proc_, exProc_);
    setTabOrder(exProc_, subFolders_);
}

void TOptForm::BuildOperationsPage(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    const auto box = [&](std::string_view name, QWidget* parent) {
        for (const MaskBit& bit : kMaskBits) {
            if (bit.box != name)
                continue;
            auto* check = new QCheckBox(Q(bit.caption), parent);
            check->setObjectName(Q(bit.box));
            maskBoxes_.emplace(std::string(bit.box), check);
            return check;
        }
        return static_cast<QCheckBox*>(nullptr);
    };
    const auto rowGroup = [&](const char* name, std::initializer_list<std::string_view> boxes) {
        auto* group = new QGroupBox(page);
        group->setObjectName(name);
        auto* row = new QHBoxLayout(group);
        for (std::string_view b : boxes)
            row->addWidget(box(b, group));
        row->addStretch(1);
        layout->addWidget(group);
    };
    rowGroup("GroupBox1", {"Full"});
    rowGroup("GroupBox2", {"List"});
    rowGroup("GroupBox3", {"Read", "Write", "Open", "Rename", "DeleteF", "Cr", "Replace"});
    rowGroup("GroupBox4", {"Dir_Create", "Dir_Delete"});

    auto* times = new QGroupBox(page);
    times->setObjectName("GroupBox5");
    auto* grid = new QGridLayout(times);
    const std::string_view left[] = {"Attr_Get", "Time_Get_C", "Time_Get_M", "Time_Get_A"};
    const std::string_view right[] = {"Attr_Set", "Time_Set_C", "Time_Set_M", "Time_Set_A"};
    for (int i = 0; i < 4; ++i)
        grid->addWidget(box(left[i], times), i, 0);
    for (int i = 0; i < 4; ++i)
        grid->addWidget(box(right[i], times), i, 1);
    layout->addWidget(times);
    layout->addStretch(1);
}

void TOptForm::InstallKeyPreview() {
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

bool TOptForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            reject();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TOptForm::OpenHelp(const std::string& topic) {
    if (openHelp_)
        openHelp_(topic);
}

QCheckBox* TOptForm::Box(std::string_view name) const {
    if (name == "SubFolders")
        return subFolders_;
    if (name == "SetDefault")
        return setDefault_;
    const auto it = maskBoxes_.find(name);
    return it == maskBoxes_.end() ? nullptr : it->second;
}

TCoolLabel* TOptForm::CoolLabel(int number) const {
    return number >= 1 && number <= 4 ? labels_[number - 1] : nullptr;
}

void TOptForm::LoadOptions(const OptionsDialogState& state) {
    const OptionsFields& f = state.fields;
    proc_->setText(QString::fromStdString(f.proc));
    exProc_->setText(QString::fromStdString(f.exProc));
    exFiles_->setText(QString::fromStdString(f.exFiles));
    incFiles_->setText(QString::fromStdString(f.incFiles));
    subFolders_->setChecked(f.subFolders);
    for (const MaskBit& bit : kMaskBits)
        Box(bit.box)->setChecked((f.mask & bit.value) != 0);
    setDefault_->setChecked(f.setDefault);
    setDefault_->setVisible(state.setDefaultVisible);
    // A long path is cut in its middle in the title, which a window manager
    // would cut at its end; the dialog shows the whole path inside.
    QString title = QString::fromStdString(state.caption);
    const QString path = QString::fromStdString(state.itemPath);
    if (!path.isEmpty()) {
        const QScreen* screen = this->screen();
        const int room = (screen ? screen->availableGeometry().width() : 1024) / 2;
        const QString shown = fontMetrics().elidedText(path, Qt::ElideMiddle, room);
        title.replace(path, shown);
        itemPath_->setText("Folder: " + path);
        itemPath_->setToolTip(path);
    }
    itemPath_->setVisible(!path.isEmpty());
    setWindowTitle(title);
    helpTopic_ = state.helpTopic;
    // F1 anywhere in the dialog opens the same topic as its Help button.
    setProperty("helpTopic", QString::fromStdString(helpTopic_));
    LockFixedOptions(state.mode);
}

void TOptForm::LockFixedOptions(int mode) {
    const FixedOptionsLock lock = kv::LockFixedOptions(mode);
    for (const auto& [name, check] : maskBoxes_)
        check->setEnabled(lock.maskBoxes);
    subFolders_->setEnabled(lock.subFolders);
    setDefault_->setEnabled(true);
    for (QWidget* w : {static_cast<QWidget*>(labels_[2]), static_cast<QWidget*>(labels_[3]),
                       static_cast<QWidget*>(incFiles_), static_cast<QWidget*>(exFiles_)}) {
        w->setEnabled(lock.filePatterns);
    }
}

OptionsFields TOptForm::Collect() const {
    OptionsFields f;
    f.proc = proc_->text().toStdString();
    f.exProc = exProc_->text().toStdString();
    f.exFiles = exFiles_->text().toStdString();
    f.incFiles = incFiles_->text().toStdString();
    f.subFolders = subFolders_->isChecked();
    f.mask = 0;
    for (const MaskBit& bit : kMaskBits) {
        if (Box(bit.box)->isChecked())
            f.mask |= bit.value;
    }
    f.setDefault = setDefault_->isChecked();
    return f;
}

bool TOptFormRunner::Run(const OptionsDialogState& state, OptionsFields* result) {
    TOptForm form(parent_, openHelp_);
    form.LoadOptions(state);
    if (form.exec() != QDialog::Accepted)
        return false;
    *result = form.Collect();
    return true;
}

}  // namespace kv
