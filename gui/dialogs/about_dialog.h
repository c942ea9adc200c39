#pragma once

#include <QDialog>

class QLabel;

// "О программе": the program's icon, its name with the version, and OK.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    // "Конфигуратор прибора Селвар v" followed by the build's version.
    static QString VersionLine();
    QLabel* Line() const { return line_; }

  private:
    QLabel* line_ = nullptr;
};
