#pragma once

#include <ostream>
#include <string>
#include <vector>

class DescBranch;

// One row of the parameter list: a parameter name with the range of linear
// indexes its instances have.
struct ParameterLine {
    std::string path;  // branch names joined by " \ "; empty for the root's own
    std::string name;
    std::string description;
    std::string type;
    int attributeKind = 0;
    int firstIndex = 0;
    int indexStep = 9999999;  // no second instance yet
    int lastIndex = 0;
    int decimals = 0;
    double maxValue = 0;
    double minValue = 0;
};

// Appends or merges the rows of a subtree, in tree order.
void CollectLines(DescBranch& branch, const std::string& path, std::vector<ParameterLine>& lines);

// Writes one row of the table (UTF-8 text).
void WriteRow(const ParameterLine& line, std::ostream& out, int number);

// The whole page: the ordinary parameters by branch, then the operative ones.
std::string ParameterListPage(DescBranch& ordinaryRoot);

// Where the page goes: "parlist.html" in the program's home.
std::string ParameterListPath();

// Writes the page (code page 1251, atomically) and opens it with the
// desktop. Without a tree, or when the file cannot be written, an error box
// says so and nothing is opened.
bool WriteParameterList(DescBranch* ordinaryRoot, const std::string& path);
