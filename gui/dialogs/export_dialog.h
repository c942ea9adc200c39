#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "protocol/export.h"

class CSelvarDoc;
class QButtonGroup;
class QComboBox;
class QDate;
class QDateEdit;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;

// "Экспорт протокола измерений": the recorded measurements as report pages in
// the browser or as a workbook, for a period of days or one stored data file,
// all operative parameters or one of them; and the clearing of the monthly
// archives. The export runs on a worker thread that never touches a widget:
// its progress and its end come back as queued calls.
class CExportOperDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr const char* kOkTip = "Начать экспорт данных";
    static constexpr const char* kCancelTip = "Отменить экспорт данных";
    static constexpr const char* kClearTip = "Очистка архива данных";
    static constexpr const char* kFilterLabel = "Фильтр:";
    static constexpr const char* kBrowser = "Показать отчет в броузере";
    static constexpr const char* kSpreadsheet = "Показать отчет в MS Excel";
    static constexpr const char* kByPeriod = "Экспорт по периоду времени";
    static constexpr const char* kByFile = "Экспорт по файлу";
    static constexpr const char* kPeriodPrompt =
        "Укажите за какой период времени хотите просмотреть отчет измерений:";
    static constexpr const char* kFilePrompt = "Выберите файл данных для экспорта:";

    explicit CExportOperDlg(CSelvarDoc& doc, QWidget* parent = nullptr);
    // A running export is cancelled and waited for.
    ~CExportOperDlg() override;

    // Bytes free to the user on a folder's drive; null asks the file system.
    std::function<std::optional<std::uint64_t>(const std::string& folder)> freeSpace;
    // Shows a finished report; false when nothing could open it. The default
    // hands pages to the desktop service and workbooks to the desktop's
    // handler for their type.
    std::function<bool(const std::string& path, Protocol::ExportFormat format)> openReport;

    bool IsRunning() const { return worker_.joinable(); }
    // The folders the export reads and writes.
    const std::string& ProtocolFolder() const { return protocolFolder_; }
    const std::string& OutputFolder() const { return outputFolder_; }
    // The export the controls describe now.
    Protocol::ExportRequest Request() const;

    // The controls, for tests and the screenshot.
    QListWidget* FilterList() const { return filter_; }
    QRadioButton* BrowserButton() const { return browser_; }
    QRadioButton* SpreadsheetButton() const { return spreadsheet_; }
    QRadioButton* PeriodButton() const { return byPeriod_; }
    QRadioButton* FileButton() const { return byFile_; }
    QDateEdit* FromPicker() const { return from_; }
    QDateEdit* ToPicker() const { return to_; }
    QComboBox* DataFiles() const { return dataFiles_; }
    QProgressBar* RecordBar() const { return recordBar_; }
    QProgressBar* DayBar() const { return dayBar_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* ClearButton() const { return clear_; }

  signals:
    // An export ended (a Protocol::ExportStatus), after its box was shown
    // and its report opened.
    void exportFinished(int status);

  protected:
    // Esc acts as "Отмена".
    void reject() override;
    // Closing the window while an export runs cancels it and waits for it.
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildControls();
    void FillDataFiles();
    void OnFromChanged(const QDate& from);
    void OnOk();
    void OnCancel();
    void OnClear();
    void OnWorkerDone(std::uint64_t serial, const Protocol::ExportResult& result);
    // Cancels a running export and waits for its thread.
    void StopWorker();
    void SetRunning(bool running);
    // Enables the controls of the chosen mode.
    void UpdateControls();
    void ShowReport(const Protocol::ExportResult& result, Protocol::ExportFormat format);

    CSelvarDoc& doc_;
    std::string protocolFolder_;
    std::string outputFolder_;

    QLabel* filterLabel_ = nullptr;
    QListWidget* filter_ = nullptr;
    QRadioButton* browser_ = nullptr;
    QRadioButton* spreadsheet_ = nullptr;
    QRadioButton* byPeriod_ = nullptr;
    QRadioButton* byFile_ = nullptr;
    QButtonGroup* formatGroup_ = nullptr;
    QButtonGroup* modeGroup_ = nullptr;
    QLabel* periodPrompt_ = nullptr;
    QLabel* fromLabel_ = nullptr;
    QLabel* toLabel_ = nullptr;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QLabel* filePrompt_ = nullptr;
    QComboBox* dataFiles_ = nullptr;
    QProgressBar* recordBar_ = nullptr;
    QProgressBar* dayBar_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* clear_ = nullptr;

    std::unique_ptr<Protocol::ExportJob> job_;
    std::thread worker_;
    // Tells the end of the current export from that of one stopped before.
    std::uint64_t serial_ = 0;
    bool closeWhenStopped_ = false;
};
