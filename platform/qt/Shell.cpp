#include "platform/qt/Shell.h"

#include <QDesktopServices>
#include <QProcess>
#include <QString>
#include <QUrl>

#include "platform/Paths.h"

namespace kv::platform {

std::string HelpFilePath() {
    return ExecutableDir() + "/Help/tarvex.html";
}

bool OpenHelpTopic(const std::string& topic) {
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(HelpFilePath()));
    if (!topic.empty())
        url.setFragment(QString::fromStdString(topic));
    return QDesktopServices::openUrl(url);
}

bool OpenDocument(const std::string& pathOrUrl) {
    const QString text = QString::fromStdString(pathOrUrl);
    const QUrl url = QUrl(text);
    if (url.isValid() && !url.scheme().isEmpty() && url.scheme().size() > 1)
        return QDesktopServices::openUrl(url);
    return QDesktopServices::openUrl(QUrl::fromLocalFile(text));
}

bool StartProgram(const std::string& path) {
    return QProcess::startDetached(QString::fromStdString(path), {});
}

}  // namespace kv::platform
