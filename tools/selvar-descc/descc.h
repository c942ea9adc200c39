#pragma once

// selvar-descc: compiles the human-editable description sources of one
// modification (data/<alias>/, format in data/README.md) into the five
// description files of.

#include <optional>
#include <string>

#include "diagnostics.h"
#include "lexer.h"
#include "model.h"

namespace descc {

// File names of a modification's sources inside its folder.
constexpr const char* kModificationFile = "modification.txt";
constexpr const char* kParametersFile = "parameters.txt";
constexpr const char* kTreeFile = "tree.txt";
constexpr const char* kOperativeFile = "operative.txt";
constexpr const char* kHiddenFile = "hidden.txt";
constexpr const char* kCommentsFile = "comments.txt";  // optional

// Reads and checks every source of the modification in `folder`. Errors go to
// diag; the result is empty when there was any.
std::optional<Modification> CompileModification(const std::string& folder, const FileReader& reader,
                                                Diagnostics& diag);

// The five files' contents (trees and table decompressed).
bool EncodeModification(const Modification& mod, EncodedFiles& files, Diagnostics& diag);

// Compresses and writes the five files into outDir under the names the
// program expects (device_description.h).
bool WriteModification(const Modification& mod, const EncodedFiles& files,
                       const std::string& outDir, Diagnostics& diag);

// Counts for the summary line.
struct Summary {
    std::size_t parameters = 0;
    std::size_t operative = 0;
    std::size_t treeRecords = 0;
    std::size_t operativeRecords = 0;
    std::size_t hiddenRecords = 0;
    std::size_t comments = 0;
};
Summary Summarize(const Modification& mod);

// The expanded table as text, one record a line (for review).
std::string DumpTable(const Modification& mod);

}  // namespace descc
