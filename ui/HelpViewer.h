#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>
#include <string>

class QAction;
class QTextBrowser;

namespace kv::ui {

/// The program's own help viewer: the help file in a text browser, opened at
/// a topic's anchor, with Back, Forward and Contents. No browser is needed.
/// Links into the help stay in the viewer; any other link (a web page) is
/// handed to `openLink`, which opens it with the desktop and reports a failure.
class THelpViewer : public QWidget {
    Q_OBJECT
public:
    using LinkOpener = std::function<void(const QUrl& url)>;

    THelpViewer(QString helpFile, LinkOpener openLink, QWidget* parent = nullptr);

    /// Shows the help at a topic ("Topic160"; empty: the top of the file) and
    /// brings the viewer forward. False when the help file cannot be read.
    bool ShowTopic(const std::string& topic);

    QTextBrowser* Browser() const { return browser_; }
    QAction* BackAction() const { return back_; }
    QAction* ForwardAction() const { return forward_; }
    QAction* ContentsAction() const { return contents_; }

private:
    void OpenLink(const QUrl& url);
    void PlaceOverOwner();

    QString helpFile_;
    LinkOpener openLink_;
    QTextBrowser* browser_;
    QAction* back_;
    QAction* forward_;
    QAction* contents_;
};

}  // namespace kv::ui
