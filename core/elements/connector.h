#pragma once

#include <string>

class DescBranch;

namespace Elements {

// A link record of a description branch: shows a state of the branch (which
// object it belongs to) computed from the values of selected parameters.
class Connector {
  public:
    Connector() = default;
    Connector(std::string source, std::string owner, std::string state, std::string select,
              int firstIndex, int lastIndex)
        : sourceText(std::move(source)),
          ownerName(std::move(owner)),
          stateText(std::move(state)),
          selector(std::move(select)),
          first(firstIndex),
          last(lastIndex) {}

    // The state text for the given branch.
    std::string ConnectorState(const DescBranch& branch) const;

    std::string sourceText;
    std::string ownerName;
    std::string stateText;
    std::string selector;
    int first = 0;
    int last = 0;
};

}  // namespace Elements
