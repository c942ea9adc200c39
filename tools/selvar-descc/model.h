#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "description/description_writer.h"
#include "description/device_description.h"
#include "diagnostics.h"

namespace descc {

// One record of the parameter table, expanded from a source line.
struct ParamRecord {
    Location loc;
    std::string name;       // device name as the table writes it
    std::string finalName;  // the name the program uses once the binding is applied
    std::string typeName;   // canonical type name; empty for an enumeration
    std::string shownType;  // type as the loader makes it: hide marks removed, '_' as ' '
    DescriptionWriter::TableFields fields;
    std::string comment;           // tool-tip comment of this instance; empty = none
    bool commentPerIndex = false;  // keyed with the index rather than for any index
    bool commentWritten = false;   // an entry for any index comes from an earlier instance
    int group = 0;                 // records of one source line share the group
};

// A node of a description tree after loops and names are resolved.
struct TreeNode {
    enum class Kind { Branch, Parameter, Connector };
    Kind kind = Kind::Branch;
    Location loc;
    // Branch.
    DescriptionWriter::BranchFields branch;
    int structure = -1;  // first structure table entry of its parameters; -1 = none
    std::string comment;
    std::vector<TreeNode> children;
    // Parameter reference.
    DescriptionWriter::ParameterRefFields ref;
    // Connector.
    DescriptionWriter::ConnectorFields connector;
};

// What a device of the modification answers to the identification.
struct Identity {
    Location loc;
    std::string displayName;
    std::string dev;
    std::string pver;
    std::string ver;
};

enum class TreeKind { Ordinary, Operative, Hidden };

// Everything one modification's sources describe.
struct Modification {
    std::string folder;
    const CDeviceDescription* description = nullptr;
    Identity identity;
    std::map<std::string, std::int64_t> constants;
    std::map<std::string, Location> constantPlaces;
    std::vector<ParamRecord> table;
    TreeNode tree;       // ordinary
    TreeNode operative;  // operative (polled)
    TreeNode hidden;
    std::vector<DescriptionWriter::TooltipEntry> tooltips;
};

// The five files, decompressed (the tool-tip file already inverted).
struct EncodedFiles {
    std::vector<std::uint8_t> table;
    std::vector<std::uint8_t> tree;
    std::vector<std::uint8_t> hidden;
    std::vector<std::uint8_t> operative;
    std::vector<std::uint8_t> tooltip;
};

}  // namespace descc
