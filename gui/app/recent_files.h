#pragma once

#include <QString>
#include <QStringList>

// The recently used configuration files of the "&Файл" menu, newest first,
// kept in the per-user settings.
class RecentFileList {
  public:
    explicit RecentFileList(int size);
    void Load();
    void Save() const;
    // The file goes to the top (once, compared as full paths).
    void Add(const QString& path);
    void Remove(const QString& path);
    const QStringList& Files() const { return files_; }
    int Size() const { return size_; }

  private:
    int size_;
    QStringList files_;
};
