#pragma once

#include <string>

struct CDeviceDescription;

// Decisions of the application about which file and which modification it
// opens.
namespace App {

// Whether a file about to be opened is the open document's own: the full
// paths compared without regard to case, or the same file on disk under
// another name (a link, a relative path). A path that cannot be opened as a
// file is never the same: the comparison is skipped.
bool IsOpenDocumentFile(const std::string& requested, const std::string& openPath);

// The modification set up at start when the wizard does not run: the one a
// readable configuration file was saved with, else the one the device
// identified (may be null), else the first.
const CDeviceDescription* StartModification(const std::string& file,
                                            const CDeviceDescription* identified);

}  // namespace App
