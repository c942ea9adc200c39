#include "model/object_with_parameters.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/archive.h"
#include "support/message_recorder.h"
#include "support/recording_sink.h"

namespace {

// A device whose per-parameter results are scripted by name and which can
// raise the stop request after a given number of calls.
class FakeDevice : public ParameterDevice {
  public:
    int ReadParameter(Parameter& p) override { return Call("read", p, 0); }
    int WriteParameter(Parameter& p, int mode) override { return Call("write", p, mode); }
    int CompareParameter(Parameter& p) override { return Call("compare", p, 0); }
    bool StopRequested() const override {
        return stopped || (stopAfter >= 0 && calls >= stopAfter);
    }
    OperationCounters& Counters() override { return counters; }

    std::map<std::string, int> results;  // name -> result code (default 0)
    std::vector<std::string> log;
    std::vector<std::string> writtenValues;
    OperationCounters counters;
    bool stopped = false;
    int stopAfter = -1;
    int calls = 0;

  private:
    int Call(const char* what, Parameter& p, int mode) {
        ++calls;
        log.push_back(std::string(what) + " " + p.name + (mode ? " " + std::to_string(mode) : ""));
        writtenValues.push_back(mode < 0 ? p.defaultValue : p.value);
        auto it = results.find(p.name);
        return it == results.end() ? 0 : it->second;
    }
};

Parameter* Add(ObjectWithParameters& list, const char* name, const char* value = "1") {
    auto* p = new Parameter;
    p->name = name;
    p->value = value;
    p->description = std::string("описание ") + name;
    list.AddParameter(p);
    return p;
}

TEST(ObjectWithParameters, FindGetAndSetIgnoreCase) {
    ObjectWithParameters list;
    Add(list, "r.co", "5");
    Parameter* second = Add(list, "R.CO", "6");
    second->hasLinearIndex = true;
    second->linearIndex = 2;
    EXPECT_EQ(list.GetValue("R.Co"), "5");
    EXPECT_EQ(list.GetValue("none"), "");
    EXPECT_EQ(list.FindParameter("r.co", 2), second);
    EXPECT_EQ(list.FindParameter("r.co", 3), nullptr);
    EXPECT_EQ(list.FindParameter("r.co", -1), list.parameters[0]);

    Add(list, "mode", "Вкл");
    EXPECT_TRUE(list.SetValue("MODE", "ВКЛ", true));
    EXPECT_FALSE(list.FindParameter("mode")->needUpdate);  // differs only in case
    EXPECT_EQ(list.GetValue("mode"), "ВКЛ");
    EXPECT_TRUE(list.SetValue("mode", "Выкл", true));
    EXPECT_TRUE(list.FindParameter("mode")->needUpdate);
    EXPECT_FALSE(list.SetValue("absent", "1", true));
}

TEST(ObjectWithParameters, ReadAllCountsFailuresAndStopsOnlyAfterOne) {
    ObjectWithParameters list;
    for (const char* n : {"a", "b", "c", "d"})
        Add(list, n);
    FakeDevice dev;
    dev.results["b"] = 1;
    EXPECT_EQ(list.ReadAll(dev), (ListResult{4, 1}));
    EXPECT_EQ(dev.counters.failed, 1);

    // Stop raised after the second call: the read of "b" fails, the stop is seen then.
    FakeDevice stopping;
    stopping.results["b"] = 1;
    stopping.stopAfter = 2;
    EXPECT_EQ(list.ReadAll(stopping), (ListResult{2, 1}));
    EXPECT_EQ(stopping.log.size(), 2u);

    // A read that found the stop did nothing: it ends the list, not a failure.
    FakeDevice interrupted;
    interrupted.results["c"] = ParameterDevice::kStoppedResult;
    EXPECT_EQ(list.ReadAll(interrupted), (ListResult{3, 0}));
    EXPECT_EQ(interrupted.counters.failed, 0);
    EXPECT_EQ(interrupted.log.size(), 3u);

    FakeDevice stopped;
    stopped.stopped = true;
    EXPECT_EQ(list.ReadAll(stopped), (ListResult{0, 0}));
    EXPECT_TRUE(stopped.log.empty());
}

TEST(ObjectWithParameters, CompareAllCountsProcessedAndFailedExchanges) {
    ObjectWithParameters list;
    for (const char* n : {"a", "b", "c"})
        Add(list, n);
    FakeDevice dev;
    dev.results["c"] = 2;
    EXPECT_EQ(list.CompareAll(dev), (ListResult{3, 1}));
    EXPECT_EQ(dev.counters.processed, 3);

    FakeDevice stopping;
    stopping.stopAfter = 1;
    EXPECT_EQ(list.CompareAll(stopping), (ListResult{1, 0}));
    EXPECT_EQ(stopping.counters.processed, 1);
}

TEST(ObjectWithParameters, WriteAllModes) {
    ObjectWithParameters list;
    Parameter* a = Add(list, "a");
    Parameter* ro = Add(list, "ro");
    ro->writable = false;
    Parameter* forced = Add(list, "forced");
    forced->treeWritable = false;
    forced->forceWrite = true;
    forced->defaultValue = "0";
    Parameter* changed = Add(list, "changed");
    changed->needUpdateOwner = true;
    a->defaultValue = "7";

    FakeDevice all;
    all.results["forced"] = 1;
    EXPECT_EQ(list.WriteAll(all, 1), (ListResult{3, 1}));
    EXPECT_EQ(all.log,
              (std::vector<std::string>{"write a 1", "write forced 1", "write changed 1"}));
    EXPECT_EQ(all.counters.processed, 4);  // every parameter counts in this mode
    EXPECT_EQ(all.counters.failed, 1);

    FakeDevice changedOnly;
    EXPECT_EQ(list.WriteAll(changedOnly, 0), (ListResult{1, 0}));
    EXPECT_EQ(changedOnly.log, (std::vector<std::string>{"write changed"}));
    EXPECT_EQ(changedOnly.counters.processed, 1);  // only what was written

    // Factory values go to every parameter that has one, writable or not.
    ro->defaultValue = "3";
    FakeDevice init;
    EXPECT_EQ(list.WriteAll(init, -1), (ListResult{3, 0}));
    EXPECT_EQ(init.log, (std::vector<std::string>{"write a -1", "write ro -1", "write forced -1"}));
    EXPECT_EQ(init.writtenValues, (std::vector<std::string>{"7", "3", "0"}));
    EXPECT_EQ(init.counters.processed, 4);

    FakeDevice stopping;
    stopping.stopAfter = 1;
    EXPECT_EQ(list.WriteAll(stopping, 1), (ListResult{1, 0}));

    FakeDevice stopped;
    stopped.stopped = true;
    EXPECT_EQ(list.WriteAll(stopped, 1), (ListResult{0, 0}));
    EXPECT_EQ(stopped.counters.processed, 0);
}

TEST(ObjectWithParameters, InitialisationLoadsThePackedPartnerFirst) {
    ObjectWithParameters list;
    Parameter packed;
    packed.name = "C.pt";
    packed.value = "123";
    packed.defaultValue = "65537";
    Parameter* x = Add(list, "X.pt");
    x->bindingKind = 1;
    x->defaultValue = "0.1";
    x->linked.push_back(&packed);
    Parameter* lonely = Add(list, "Y.pt");
    lonely->bindingKind = 2;
    lonely->defaultValue = "0.2";

    FakeDevice init;
    EXPECT_EQ(list.WriteAll(init, -1), (ListResult{2, 0}));
    EXPECT_EQ(packed.value, "65537");

    // Other modes leave the partner alone.
    packed.value = "5";
    FakeDevice all;
    list.WriteAll(all, 1);
    EXPECT_EQ(packed.value, "5");
}

TEST(ObjectWithParameters, CommonIndexWarnsOncePerSuspiciousParameter) {
    MessageRecorder boxes;
    ObjectWithParameters list;
    Add(list, "plain");
    for (int idx : {4, 4, 5, 6}) {
        Parameter* p = Add(list, "ix");
        p->hasLinearIndex = true;
        p->linearIndex = idx;
    }
    // Unknown common index: the first indexed parameter sets it, nothing else is looked at.
    EXPECT_EQ(list.CheckCommonIndex(), 4);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(list.CheckCommonIndex(), 4);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].text,
              "Параметер 'ix' (описание ix) имеет подозрительный линейный индекс.");
    EXPECT_EQ(boxes.boxes[0].caption, "Предупреждение");

    list.SetCommonIndex(9);
    EXPECT_EQ(list.commonIndex, 9);
    EXPECT_EQ(list.parameters[0]->linearIndex, 0);
    EXPECT_EQ(list.parameters[3]->linearIndex, 9);
}

TEST(ObjectWithParameters, StateQueries) {
    ObjectWithParameters list;
    Parameter* a = Add(list, "a");
    Parameter* b = Add(list, "b");
    EXPECT_EQ(list.HasPendingUpdate(), 0);
    EXPECT_FALSE(list.HasErrors(true));
    EXPECT_FALSE(list.HasEmptyValues());

    a->error = Parameter::kNotInitialised;
    EXPECT_FALSE(list.HasErrors(true));
    a->error = "Знач-е в приборе: 3";
    EXPECT_TRUE(list.HasErrors(true));
    EXPECT_FALSE(list.HasErrors(false));
    b->error = "Таймаут";
    EXPECT_TRUE(list.HasErrors(false));

    b->needUpdateAccess = true;
    EXPECT_EQ(list.HasPendingUpdate(), 2);
    EXPECT_FALSE(list.HasChanges(false));
    EXPECT_TRUE(list.HasChanges(true));
    list.ClearChanges();
    EXPECT_FALSE(list.HasChanges(true));

    b->ownerAttribute = 1;
    b->accessAttribute = 0;
    b->needUpdate = true;
    list.ClearValues();
    EXPECT_TRUE(list.HasEmptyValues());
    EXPECT_FALSE(list.HasErrors(true));
    EXPECT_FALSE(list.HasChanges(true));
    EXPECT_EQ(b->accessAttribute, 1);
    EXPECT_EQ(b->ownerAttribute, 0);
}

TEST(ObjectWithParameters, RecordsRoundTripThroughTheMap) {
    ObjectWithParameters source;
    Add(source, "a", "1.5");
    Parameter* ix = Add(source, "a", "2.5");
    ix->hasLinearIndex = true;
    ix->linearIndex = 1;
    std::vector<SavedRecord> records;
    source.CollectRecords(records);
    ASSERT_EQ(records.size(), 2u);

    RecordMap map;
    for (const SavedRecord& r : records) {
        Parameter probe;
        probe.FromRecord(r);
        map.Set(probe.Key(), r);
    }
    EXPECT_EQ(map.Size(), 2u);

    ObjectWithParameters target;
    Add(target, "a", "x");
    Parameter* tix = Add(target, "A", "y");
    tix->linearIndex = 1;
    int missing = 0;
    std::string text;
    target.ApplyRecords(map, 15, missing, text);
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(target.parameters[0]->value, "1.5");
    EXPECT_EQ(target.parameters[1]->value, "2.5");
    EXPECT_TRUE(target.parameters[1]->hasLinearIndex);
}

TEST(ObjectWithParameters, LaterRecordWithSameKeyReplacesEarlier) {
    RecordMap map(17);
    SavedRecord first{}, second{};
    first[89] = '1';
    second[89] = '2';
    map.Set(0x10005, first);
    map.Set(0x10005, second);
    map.Set(0x10005 + 17 * 16, first);  // same bucket, other key
    EXPECT_EQ(map.Size(), 2u);
    EXPECT_EQ((*map.Find(0x10005))[89], '2');
    EXPECT_EQ((*map.Find(0x10005 + 17 * 16))[89], '1');
    EXPECT_EQ(map.Find(0x10006), nullptr);
}

TEST(ObjectWithParameters, MissingRecordsAreListedUpToTheLimit) {
    ObjectWithParameters list;
    for (const char* n : {"p1", "p2", "p3", "p4", "p5"}) {
        Parameter* p = Add(list, n, "5");
        p->attributeKind = 2;
    }
    list.parameters[1]->hasLinearIndex = true;
    list.parameters[1]->linearIndex = 3;
    RecordMap empty;
    int missing = 0;
    std::string text;
    list.ApplyRecords(empty, 3, missing, text);
    EXPECT_EQ(missing, 5);
    EXPECT_EQ(text, " p1 (описание p1)\n p2:3 (описание p2)\n и другие (не перечислены)");
    for (Parameter* p : list.parameters) {
        EXPECT_EQ(p->value, "Нет данных");
        EXPECT_EQ(p->attributeKind, 2);
    }
}

TEST(ObjectWithParameters, ShowInTreeHonoursTheLimit) {
    ObjectWithParameters list;
    for (const char* n : {"a", "b", "c"})
        Add(list, n);
    list.parameters[2]->hasLinearIndex = true;
    list.parameters[2]->linearIndex = 4;
    RecordingSink sink;
    RowHandle top = sink.InsertSubRow(nullptr, "top");
    list.ShowInTree(sink, top, 2, 0);
    EXPECT_EQ(sink.lines,
              (std::vector<std::string>{"S top", "  P описание a [a]", "  P описание b [b]"}));
    EXPECT_EQ(list.shownCount, 2);
    EXPECT_EQ(list.parameters[1]->treeItem, reinterpret_cast<RowHandle>(3));

    RecordingSink all;
    list.ShowInTree(all, nullptr, -1, ShowOption::kWithIndexes);
    EXPECT_EQ(all.lines.back(), "P описание c [c:4]");
    EXPECT_EQ(list.shownCount, 3);
}

TEST(ObjectWithParameters, OwnershipFollowsTheFlag) {
    Parameter outside;
    {
        ObjectWithParameters borrowed;
        borrowed.ownsParameters = false;
        borrowed.AddParameter(&outside);
    }
    outside.name = "still alive";
    EXPECT_EQ(outside.name, "still alive");

    ObjectWithParameters owned;
    Add(owned, "a");
    owned.DeleteParameters();
    EXPECT_TRUE(owned.parameters.empty());
}

TEST(ObjectWithParameters, SerializeRunsOverTheListInOrder) {
    ObjectWithParameters list;
    Add(list, "a", "1");
    Add(list, "b", "2");
    Archive out;
    list.Serialize(out);

    ObjectWithParameters copy;
    Add(copy, "", "");
    Add(copy, "", "");
    Archive in(out.Data());
    copy.Serialize(in);
    EXPECT_TRUE(in.AtEnd());
    EXPECT_EQ(copy.parameters[1]->name, "b");
    EXPECT_EQ(copy.parameters[1]->value, "2");
}

}  // namespace
