#pragma once

#include <optional>

#include "document/selvar_doc.h"

class QWidget;

// The modification wizard "Мастер выбора модификации" as the document runs it
// before a configuration is set up.
class QtModificationWizard : public ModificationWizard {
  public:
    QtModificationWizard(CSelvarDoc& doc, QWidget* parent);
    // Modal; none unless the user finished it with "Готово".
    std::optional<WizardChoice> Run() override;

  private:
    CSelvarDoc& doc_;
    QWidget* parent_;
};
