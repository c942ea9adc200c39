#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

// "Очистка данных": the month and year up to which the monthly archives of
// the protocol are deleted. The picker reads as "март 2026г.": the month's
// own name (not the form a date with a day takes) and the year.
class CClearArchivesDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CClearArchivesDlg(QWidget* parent = nullptr);

    int Month() const;
    int Year() const;
    void SetMonth(int month, int year);
    // What the picker shows, "март 2026г.".
    QString PickerText() const;

    QComboBox* MonthBox() const { return month_; }
    QSpinBox* YearBox() const { return year_; }
    QLabel* Prompt() const { return prompt_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

  private:
    QComboBox* month_ = nullptr;
    QSpinBox* year_ = nullptr;
    QLabel* prompt_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
