#include "app/recent_files.h"

#include <QFileInfo>
#include <QSettings>

namespace {
constexpr const char* kGroup = "Recent File List";

QString FullPath(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}
}  // namespace

RecentFileList::RecentFileList(int size) : size_(size) {}

void RecentFileList::Load() {
    QSettings settings;
    settings.beginGroup(QString::fromUtf8(kGroup));
    files_.clear();
    for (int i = 1; i <= size_; ++i) {
        QString f = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!f.isEmpty() && !files_.contains(f)) files_.append(f);
    }
}

void RecentFileList::Save() const {
    QSettings settings;
    settings.beginGroup(QString::fromUtf8(kGroup));
    for (int i = 1; i <= size_; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= files_.size())
            settings.setValue(key, files_[i - 1]);
        else
            settings.remove(key);
    }
}

void RecentFileList::Add(const QString& path) {
    const QString full = FullPath(path);
    files_.removeAll(full);
    files_.prepend(full);
    while (files_.size() > size_)
        files_.removeLast();
    Save();
}

void RecentFileList::Remove(const QString& path) {
    files_.removeAll(FullPath(path));
    Save();
}
