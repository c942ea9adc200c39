#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "description/record_layout.h"
#include "platform/codepage.h"

// Builds decompressed tree files record by record for tests.
class TreeRecords {
  public:
    TreeRecords& Branch(const std::string& name, int c1, int c2 = 0, int c3 = 0, int a = 0,
                        int b = 0, int c = 0, int marked = 0) {
        std::uint8_t* r = Add(TreeRecord::kBranch);
        Put32(r, TreeRecord::kChildCount1, c1);
        Put32(r, TreeRecord::kChildCount2, c2);
        Put32(r, TreeRecord::kChildCount3, c3);
        Put32(r, TreeRecord::kValueA, a);
        Put32(r, TreeRecord::kValueB, b);
        Put32(r, TreeRecord::kValueC, c);
        Put32(r, TreeRecord::kMarked, marked);
        PutText(r, TreeRecord::kBranchName, name);
        return *this;
    }
    TreeRecords& Param(int tableIndex, float lower = 0, float upper = 0, bool readOnly = false,
                       const std::string& label = {}) {
        std::uint8_t* r = Add(TreeRecord::kParameter);
        Put32(r, TreeRecord::kTableIndex, tableIndex);
        PutFloat(r, TreeRecord::kLower, lower);
        PutFloat(r, TreeRecord::kUpper, upper);
        r[TreeRecord::kReadOnly] = readOnly ? 1 : 0;
        PutText(r, TreeRecord::kLabel, label);
        return *this;
    }
    TreeRecords& Connector(const std::string& source, const std::string& state,
                           const std::string& selector, int first, int last) {
        std::uint8_t* r = Add(TreeRecord::kConnector);
        PutText(r, TreeRecord::kSourceText, source);
        PutText(r, TreeRecord::kStateText, state);
        PutText(r, TreeRecord::kSelector, selector);
        Put32(r, TreeRecord::kFirst, first);
        Put32(r, TreeRecord::kLast, last);
        return *this;
    }

    std::vector<std::uint8_t> bytes;

  private:
    std::uint8_t* Add(std::uint8_t kind) {
        bytes.resize(bytes.size() + TreeRecord::kSize);
        std::uint8_t* r = bytes.data() + bytes.size() - TreeRecord::kSize;
        r[0] = kind;
        return r;
    }
    static void Put32(std::uint8_t* r, std::size_t at, std::int32_t v) {
        auto u = static_cast<std::uint32_t>(v);
        for (int i = 0; i < 4; ++i)
            r[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
    }
    static void PutFloat(std::uint8_t* r, std::size_t at, float f) {
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        Put32(r, at, static_cast<std::int32_t>(u));
    }
    static void PutText(std::uint8_t* r, std::size_t at, const std::string& utf8) {
        std::string cp = Utf8ToCp1251(utf8);
        std::memcpy(r + at, cp.data(), cp.size());
    }
};
