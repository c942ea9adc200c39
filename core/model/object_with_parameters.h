#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/parameter.h"
#include "model/row_sink.h"

// Saved-value records by key ((linearIndex << 16) | name hash), as a hash
// table whose bucket is (key >> 4) modulo the bucket count. A later record
// with the same key replaces the earlier one.
class RecordMap {
  public:
    explicit RecordMap(std::size_t buckets = 17) : buckets_(buckets ? buckets : 1) {}
    void Set(std::uint32_t key, const SavedRecord& record);
    const SavedRecord* Find(std::uint32_t key) const;
    std::size_t Size() const { return size_; }

  private:
    std::vector<std::vector<std::pair<std::uint32_t, SavedRecord>>> buckets_;
    std::size_t size_ = 0;
};

// (handled or index reached, failed) of a whole-list operation.
using ListResult = std::pair<int, int>;

// Base of everything that owns an ordered list of parameters.
class ObjectWithParameters {
  public:
    ObjectWithParameters() = default;
    ObjectWithParameters(const ObjectWithParameters&) = delete;
    ObjectWithParameters& operator=(const ObjectWithParameters&) = delete;
    virtual ~ObjectWithParameters();

    virtual void Serialize(Archive& ar);
    virtual void DeleteParameters();
    virtual std::string GetValue(std::string_view name) const;
    virtual Parameter* FindParameter(std::string_view name) const;
    virtual bool SetValue(std::string_view name, const std::string& newValue, bool markChanged);
    virtual ListResult CompareAll(ParameterDevice& device);
    virtual ListResult ReadAll(ParameterDevice& device);
    virtual ListResult WriteAll(ParameterDevice& device, int mode);
    virtual void ShowInTree(RowSink& view, RowHandle parent, int limit, int option);
    virtual int CheckCommonIndex();
    virtual void SetCommonIndex(int index);
    virtual int HasPendingUpdate() const;
    virtual void ClearValues();
    virtual bool HasErrors(bool all) const;
    virtual bool HasChanges(bool withAttributes) const;
    virtual bool HasEmptyValues() const;
    virtual void CollectRecords(std::vector<SavedRecord>& records) const;
    virtual void ApplyRecords(const RecordMap& map, int limit, int& missingCount,
                              std::string& missingText);

    // The first parameter with that name (case-insensitive) and, when index
    // is not negative, that linear index.
    Parameter* FindParameter(std::string_view name, int index) const;
    void ClearChanges();

    // Takes ownership when ownsParameters is set.
    void AddParameter(Parameter* p) { parameters.push_back(p); }

    std::vector<Parameter*> parameters;
    int commonIndex = -1;
    int shownCount = 0;
    bool ownsParameters = true;
};

// Lists a parameter the way the missing-values report does: " name[:index] (description)".
std::string MissingParameterLine(const Parameter& p);
