// What a controller checks before it takes a write: the access code must
// come in the exchange just before a protected write, and a value of the
// wrong size is refused as such before its index is looked at.

#include <gtest/gtest.h>

#include "sim_support.h"

namespace {

using simtest::Bytes;
using simtest::Device;
using simtest::Index;

const Bytes kAccessCode = {0x01, 0x0F};  // 271
const Bytes kReset = {0x01};

TEST(SimAccessCode, OpensOnlyTheExchangeRightAfterIt) {
    Device device("a1");
    // Any exchange in between spends the code: a read, a write, another "pass".
    device.Write("pass", kAccessCode);
    device.Read("A.Len");
    EXPECT_EQ(device.Write("r.co", kReset).data, Bytes{0x33});

    device.Write("pass", kAccessCode);
    device.Write("in.sl", {0x40, 0x20, 0, 0}, Index(0));
    EXPECT_EQ(device.Write("r.co", kReset).data, Bytes{0x33});

    device.Write("pass", kAccessCode);
    device.Read("zzzz");  // refused, but an exchange all the same
    EXPECT_EQ(device.Write("r.co", kReset).data, Bytes{0x33});

    device.Write("pass", kAccessCode);
    device.Write("pass", {0x01, 0x10});  // a wrong code after the right one
    EXPECT_EQ(device.Write("r.co", kReset).data, Bytes{0x33});

    // Right after it the write is taken, and only that one.
    device.Write("pass", kAccessCode);
    EXPECT_EQ(device.Write("r.co", kReset).hash, hash_name("r.co"));
    EXPECT_EQ(device.Write("r.co", kReset).data, Bytes{0x33});
}

TEST(SimAccessCode, ARequestRefusedOnTheWayStillComesBetween) {
    Device device("a1");
    device.Write("pass", kAccessCode);
    // What the simulator does with a request it refuses by an injected error.
    device.model.RecordError(0x41);
    EXPECT_EQ(device.Write("r.co", kReset).data, Bytes{0x33});
}

TEST(SimAccessCode, ABadChecksumBetweenCodeAndWriteSpendsTheCode) {
    Device device("a1");
    device.Write("pass", kAccessCode);
    LineFrame frame;
    ASSERT_TRUE(build_request(16, 0, 8, true, hash_name("A.Len"), nullptr, 0, frame));
    std::string damaged(frame.View());
    damaged[damaged.size() - 2] = damaged[damaged.size() - 2] == 'G' ? 'H' : 'G';
    EXPECT_TRUE(device.simulator->Process(damaged, 0).empty());
    EXPECT_EQ(device.Write("r.co", kReset).data, Bytes{0x33});
}

TEST(SimSizes, AValueOfTheWrongSizeIsASizeErrorWhateverItsLastBytes) {
    Device device("b4");
    // An indexed float written without its index: its last two bytes would
    // name an index that does not exist, but the size is wrong first.
    const Bytes noIndex = {0x3F, 0x8C, 0xCC, 0xCD};  // 1.1
    EXPECT_EQ(device.Write("in.sl", noIndex).data, Bytes{0x31});
    // ...and it does not land on index 0 when those bytes happen to be 0.
    EXPECT_EQ(device.Write("in.sl", {0x40, 0x20, 0, 0}).data, Bytes{0x31});
    EXPECT_EQ(device.Read("in.sl", Index(0)).data, (Bytes{0x3F, 0x80, 0, 0, 0, 0}));
    // One index byte only.
    EXPECT_EQ(device.Read("in.sl", {0x00}).data, Bytes{0x31});
    // The right size with an index beyond the family is the index's fault.
    EXPECT_EQ(device.Write("in.sl", {0x3F, 0x8C, 0xCC, 0xCD}, Index(0x4000)).data, Bytes{0x34});
}

}  // namespace
