#pragma once

#include <string>

#include "description/tree_loader.h"

// Which object each channel, commutator, signal converter and key of the
// controller belongs to, worked out from the values of the structure table.
// An owner code is the object's number from 0, or one of the codes below.
namespace Structure {
constexpr int kNoData = -1;         // an entry is missing or was never read
constexpr int kDisconnected = -2;   // the element is switched off
constexpr int kContradiction = -3;  // the values disagree with each other
constexpr int kAbsent = -4;         // the element is absent or not initialised
}  // namespace Structure

// k counts from 0 in all four.
int ChannelOwner(const StructureEntries& entries, int k);
int SwitchOwner(const StructureEntries& entries, int k);
int ConverterOwner(const StructureEntries& entries, int k);
int KeyOwner(const StructureEntries& entries, int k);

std::string OwnerText(int code);

// The text of the structure report; the key lines only at the full access level.
std::string StructureListing(const StructureEntries& entries, int accessLevel);
