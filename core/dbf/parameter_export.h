#pragma once

#include <string>

#include "dbf/dbf.h"

class ObjectWithParameters;

// The dBase III table "Параметры": one row per parameter of the ordinary tree,
// the fields of the saved-value record.
DBF::DBFRecordType ParameterTableType();

// Writes the tree's parameters to `path` (atomically: a temporary file, then
// a rename). A file that cannot be written is reported in an error box and
// leaves an existing file as it was.
bool ExportParameters(const ObjectWithParameters& tree, const std::string& path);

// Applies a table to the tree. Rows naming parameters the tree lacks are
// ignored; parameters the table lacks are reset and listed in a warning box.
// A file that cannot be read is reported and changes nothing.
bool ImportParameters(ObjectWithParameters& tree, const std::string& path);
