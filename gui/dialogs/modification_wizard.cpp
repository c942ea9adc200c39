#include "dialogs/modification_wizard.h"

QtModificationWizard::QtModificationWizard(CSelvarDoc& doc, QWidget* parent)
    : doc_(doc), parent_(parent) {}

std::optional<WizardChoice> QtModificationWizard::Run() {
    (void)doc_;
    (void)parent_;
    return std::nullopt;
}
