#include "ui/HelpViewer.h"

#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>

#include "ui/DialogLook.h"
#include "ui/Placement.h"

namespace kv::ui {

namespace {

QIcon ThemeOr(const char* name, QStyle::StandardPixmap fallback, const QWidget* widget) {
    return QIcon::fromTheme(name, widget->style()->standardIcon(fallback));
}

}  // namespace

THelpViewer::THelpViewer(QString helpFile, LinkOpener openLink, QWidget* parent)
    : QWidget(parent, Qt::Window),
      helpFile_(std::move(helpFile)),
      openLink_(std::move(openLink)),
      browser_(new QTextBrowser(this)) {
    setObjectName("HelpViewer");
    setWindowTitle("Kestrava Help");
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* bar = new QToolBar(this);
    bar->setObjectName("HelpToolBar");
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    back_ = bar->addAction(ThemeOr("go-previous", QStyle::SP_ArrowBack, this), "&Back");
    back_->setShortcuts(QKeySequence::Back);
    forward_ = bar->addAction(ThemeOr("go-next", QStyle::SP_ArrowForward, this), "&Forward");
    forward_->setShortcuts(QKeySequence::Forward);
    contents_ = bar->addAction(ThemeOr("go-home", QStyle::SP_DirHomeIcon, this), "&Contents");
    contents_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));
    back_->setEnabled(false);
    forward_->setEnabled(false);

    browser_->setObjectName("HelpBrowser");
    browser_->setOpenLinks(false);
    browser_->setOpenExternalLinks(false);
    connect(browser_, &QTextBrowser::anchorClicked, this, &THelpViewer::OpenLink);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QAction::setEnabled);
    connect(back_, &QAction::triggered, browser_, &QTextBrowser::backward);
    connect(forward_, &QAction::triggered, browser_, &QTextBrowser::forward);
    connect(contents_, &QAction::triggered, this, [this] { ShowTopic({}); });
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(browser_, 1);
    setFocusProxy(browser_);

    const QFontMetrics metrics(font());
    resize(metrics.averageCharWidth() * 90, metrics.height() * 36);
}

bool THelpViewer::ShowTopic(const std::string& topic) {
    if (!QFileInfo(helpFile_).isReadable())
        return false;
    QUrl url = QUrl::fromLocalFile(helpFile_);
    if (!topic.empty())
        url.setFragment(QString::fromStdString(topic));
    const QUrl current = browser_->source();
    if (current.adjusted(QUrl::RemoveFragment) == url.adjusted(QUrl::RemoveFragment) &&
        !url.hasFragment()) {
        // The top of a file already shown: a new history entry all the same.
        browser_->setSource(url);
        browser_->verticalScrollBar()->setValue(0);
    } else {
        browser_->setSource(url);
    }
    if (isMinimized())
        showNormal();
    if (!isVisible())
        PlaceOverOwner();
    show();
    raise();
    activateWindow();
    // The viewer scrolls to the anchor once its page has a size.
    if (url.hasFragment())
        browser_->scrollToAnchor(url.fragment());
    return true;
}

void THelpViewer::PlaceOverOwner() {
    // Centred on the window it belongs to, or on the screen; never past its edges.
    ui::PlaceOverOwner(*this, parentWidget() ? parentWidget()->window() : nullptr);
}

void THelpViewer::OpenLink(const QUrl& url) {
    const QUrl resolved = browser_->source().resolved(url);
    if (resolved.isLocalFile() || resolved.scheme().isEmpty()) {
        browser_->setSource(resolved);
        return;
    }
    if (openLink_)
        openLink_(resolved);
}

}  // namespace kv::ui
