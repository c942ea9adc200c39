#pragma once

#include <QWidget>
#include <functional>

#include "document/selvar_doc.h"

class QLabel;

// The main window's centre until the configuration tree view exists: it
// names the configuration shown and takes the document's view calls.
class CPlaceholderView : public QWidget, public DocumentViews {
    Q_OBJECT
  public:
    CPlaceholderView(CSelvarDoc& doc, QWidget* parent = nullptr);

    void Clear() override;
    void Refresh(bool fromTop) override;
    // The wizard was cancelled: the main window is asked to close.
    void CloseMainWindow() override;
    std::function<void()> closeMainWindow;
    int Refreshes() const { return refreshes_; }

  private:
    CSelvarDoc& doc_;
    QLabel* text_ = nullptr;
    int refreshes_ = 0;
};
