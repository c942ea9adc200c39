#pragma once

#include <string>
#include <string_view>
#include <vector>

// The display name and the five description files of one modification.
struct CDeviceDescription {
    std::string displayName;
    const char* parametersFile;
    const char* treeFile;
    const char* hiddenTreeFile;
    const char* operativeTreeFile;
    const char* tooltipFile;
    const char* alias;  // short name for the command line ("a1", "b4", "b2")
};

// The three modifications, in the order the application enumerates them.
const std::vector<CDeviceDescription>& DeviceDescriptions();

// By display name (case-insensitive) or alias; null when unknown.
const CDeviceDescription* FindDeviceDescription(std::string_view nameOrAlias);

// Folder of the description files: $SELVAR_DATA_DIR when set, else the
// executable's folder when it holds them, else ../share/selvar beside it (an
// installed program under any prefix), else the installed data folder.
std::string DescriptionDirectory();

// The path of one description file.
std::string DescriptionPath(const char* fileName);
