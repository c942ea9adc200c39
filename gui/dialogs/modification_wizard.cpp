#include "dialogs/modification_wizard.h"

#include "dialogs/wizard_pages.h"

QtModificationWizard::QtModificationWizard(CSelvarDoc& doc, QWidget* parent)
    : doc_(doc), parent_(parent) {}

std::optional<WizardChoice> QtModificationWizard::Run() {
    // A document that never held a configuration has no modification chosen
    // yet; afterwards the one in use is what the wizard starts from.
    const CDeviceDescription* active = doc_.Title().empty() ? nullptr : doc_.Modification();
    Wizard::CMasterDlg wizard(doc_, active, parent_);
    if (wizard.exec() != Wizard::kFinishId) return std::nullopt;
    return wizard.Choice();
}
