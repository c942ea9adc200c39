#include "views/placeholder_view.h"

#include <QLabel>
#include <QVBoxLayout>

#include "description/device_description.h"

CPlaceholderView::CPlaceholderView(CSelvarDoc& doc, QWidget* parent) : QWidget(parent), doc_(doc) {
    text_ = new QLabel(this);
    text_->setAlignment(Qt::AlignCenter);
    text_->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    Refresh(true);
}

void CPlaceholderView::Clear() {
    text_->clear();
}

void CPlaceholderView::Refresh(bool fromTop) {
    (void)fromTop;
    ++refreshes_;
    QString text;
    if (const CDeviceDescription* m = doc_.Modification(); m && doc_.ConfigurationSetUp()) {
        text = QString::fromUtf8("Модификация: %1").arg(QString::fromStdString(m->displayName));
        text += QString::fromUtf8("\nПараметров в таблице: %1")
                    .arg(static_cast<qulonglong>(doc_.device().Table().Size()));
    } else {
        text = QString::fromUtf8(CSelvarDoc::kNoTree);
    }
    text_->setText(text);
}

void CPlaceholderView::CloseMainWindow() {
    if (closeMainWindow) closeMainWindow();
}
