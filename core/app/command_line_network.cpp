#include "app/command_line_network.h"

#include "document/selvar_doc.h"

namespace App {

void ApplyCommandLineNetwork(CSelvarDoc&, const StartupOptions&) {}
void InstallNewNetParamsHook(CSelvarDoc&, const StartupOptions&) {}

}  // namespace App
