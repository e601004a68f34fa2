// THistory on a plain byte buffer: recording, undo, redo, the ring's
// capacity, redo dropping, notifications and steps that no longer fit.
#include "undoredo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// A byte buffer with the two operations the history uses.
class Buffer : public THistoryOwner {
public:
    std::vector<uint8_t> bytes;
    std::vector<int32_t> gotos;

    int32_t Size() const override { return int32_t(bytes.size()); }
    uint8_t* Data() override { return bytes.data(); }
    void MoveBytes(int32_t first, int32_t last, int32_t to) override {
        std::vector<uint8_t> block(bytes.begin() + first, bytes.begin() + last + 1);
        bytes.resize(size_t(to) + block.size(), 0xEE);
        std::copy(block.begin(), block.end(), bytes.begin() + to);
    }
    void GotoOffset(int32_t offset) override { gotos.push_back(std::clamp(offset, 0, Size())); }
    // What a view does for an edit: record first, then change.
    void Overwrite(THistory& h, int32_t at, uint8_t v) {
        h.RecordOverwrite(at, v, true, bytes[size_t(at)]);
        bytes[size_t(at)] = v;
    }
    void Replace(THistory& h, int32_t at, int32_t oldCount, std::vector<uint8_t> v) {
        h.RecordReplace(v.data(), 0, int32_t(v.size()), at, oldCount, oldCount > 0, true);
        bytes.erase(bytes.begin() + at, bytes.begin() + at + oldCount);
        bytes.insert(bytes.begin() + at, v.begin(), v.end());
    }
};

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        buf.bytes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        history.OnChange = [this](bool u, bool r) { notes.emplace_back(u, r); };
    }
    Buffer buf;
    THistory history{25, buf};
    std::vector<std::pair<bool, bool>> notes;
};

TEST_F(HistoryTest, NewHistoryHasNothingToUndoOrRedo) {
    EXPECT_EQ(history.Capacity(), 25);
    EXPECT_FALSE(history.CanUndo());
    EXPECT_FALSE(history.CanRedo());
    history.Undo();
    history.Redo();
    EXPECT_EQ(buf.bytes, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // Both still notify.
    EXPECT_EQ(notes, (std::vector<std::pair<bool, bool>>{{false, false}, {false, false}}));
    EXPECT_TRUE(buf.gotos.empty());
}

TEST_F(HistoryTest, OverwriteIsUndoneAndRedoneInPlace) {
    buf.Overwrite(history, 4, 0xAB);
    EXPECT_EQ(notes.back(), std::make_pair(true, false));
    history.Undo();
    EXPECT_EQ(buf.bytes[4], 4);
    EXPECT_EQ(buf.Size(), 10);
    EXPECT_EQ(buf.gotos.back(), 4);
    EXPECT_EQ(notes.back(), std::make_pair(false, true));
    history.Redo();
    EXPECT_EQ(buf.bytes[4], 0xAB);
    EXPECT_EQ(buf.gotos.back(), 4);
    EXPECT_EQ(notes.back(), std::make_pair(true, false));
}

TEST_F(HistoryTest, DeletionComesBackAndGoesAgain) {
    buf.Replace(history, 3, 3, {});
    EXPECT_EQ(buf.bytes, (std::vector<uint8_t>{0, 1, 2, 6, 7, 8, 9}));
    history.Undo();
    EXPECT_EQ(buf.bytes, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(buf.gotos.back(), 3);
    history.Redo();
    EXPECT_EQ(buf.bytes, (std::vector<uint8_t>{0, 1, 2, 6, 7, 8, 9}));
}

TEST_F(HistoryTest, InsertionAtTheEndShrinksBackToItsOffset) {
    buf.Replace(history, 10, 0, {0x41, 0x42});
    EXPECT_EQ(buf.Size(), 12);
    history.Undo();
    EXPECT_EQ(buf.Size(), 10);
    EXPECT_EQ(buf.gotos.back(), 10);
    history.Redo();
    EXPECT_EQ(buf.bytes, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x41, 0x42}));
}

TEST_F(HistoryTest, ReplacementOfARangeByALongerOne) {
    buf.Replace(history, 2, 2, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4});
    const std::vector<uint8_t> after = buf.bytes;
    history.Undo();
    EXPECT_EQ(buf.bytes, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    history.Redo();
    EXPECT_EQ(buf.bytes, after);
    const TURData& r = history.Record(0);
    EXPECT_EQ(r.Kind, 'R');
    EXPECT_EQ(r.OldCount, 2);
    EXPECT_EQ(r.NewCount, 5);
    EXPECT_EQ(r.WasSelActive, 1);
    EXPECT_EQ(r.WasModified, 1);
}

TEST_F(HistoryTest, OnlyTheLastCapacityStepsCanBeUndone) {
    for (int i = 0; i < 30; ++i)
        buf.Overwrite(history, i % 10, uint8_t(100 + i));
    EXPECT_EQ(history.UndoCount(), 25);
    for (int i = 0; i < 25; ++i)
        history.Undo();
    // Steps 0..4 were overwritten in the ring; their effect stays.
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(buf.bytes[size_t(k)], 100 + k);
    for (int k = 5; k < 10; ++k)
        EXPECT_EQ(buf.bytes[size_t(k)], k);
    notes.clear();
    history.Undo();
    EXPECT_EQ(notes, (std::vector<std::pair<bool, bool>>{{false, true}}));
    for (int i = 0; i < 25; ++i)
        history.Redo();
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(buf.bytes[size_t(k)], 120 + k);
    EXPECT_FALSE(history.CanRedo());
}

TEST_F(HistoryTest, RecordingAfterUndoDropsTheRedoSteps) {
    buf.Overwrite(history, 0, 0xA); // A
    buf.Overwrite(history, 1, 0xB); // B
    buf.Overwrite(history, 2, 0xC); // C
    history.Undo();
    history.Undo();
    buf.Overwrite(history, 5, 0xD); // D
    EXPECT_FALSE(history.CanRedo());
    history.Redo();
    EXPECT_EQ(buf.bytes[1], 1);
    history.Undo(); // D
    EXPECT_EQ(buf.bytes[5], 5);
    EXPECT_EQ(buf.bytes[0], 0xA);
    history.Undo(); // A
    EXPECT_EQ(buf.bytes[0], 0);
    EXPECT_FALSE(history.CanUndo());
    EXPECT_TRUE(history.CanRedo());
}

TEST_F(HistoryTest, SetCapacityEmptiesTheRingWithoutNotifying) {
    buf.Overwrite(history, 0, 0xA);
    notes.clear();
    history.SetCapacity(5);
    EXPECT_TRUE(notes.empty());
    EXPECT_EQ(history.Capacity(), 5);
    EXPECT_FALSE(history.CanUndo());
    history.Undo();
    EXPECT_EQ(buf.bytes[0], 0xA);
    for (int s = 0; s < 5; ++s) {
        EXPECT_EQ(history.Record(s).OldBytes.size(), 1u);
        EXPECT_EQ(history.Record(s).NewBytes.size(), 1u);
    }
}

TEST_F(HistoryTest, SlotsKeepTheirLongerArraysAndCountsTellTheValidPart) {
    history.SetCapacity(5);
    buf.Replace(history, 0, 4, {1, 2, 3, 4, 5, 6});
    for (int i = 0; i < 4; ++i)
        buf.Overwrite(history, 0, uint8_t(i));
    buf.Replace(history, 1, 1, {0x77}); // reuses slot 0
    const TURData& r = history.Record(0);
    EXPECT_GE(r.NewBytes.size(), 6u);
    EXPECT_GE(r.OldBytes.size(), 4u);
    EXPECT_EQ(r.NewCount, 1);
    EXPECT_EQ(r.OldCount, 1);
    history.Undo();
    EXPECT_EQ(buf.bytes[1], 2);
    EXPECT_EQ(buf.Size(), 12);
}

TEST_F(HistoryTest, StepsThatNoLongerFitTheBufferAreLeftAlone) {
    buf.Replace(history, 6, 0, {0x50, 0x51, 0x52});
    buf.Overwrite(history, 12, 0x99);
    // The buffer is cut short behind the history's back.
    buf.bytes.resize(4);
    history.Undo();
    history.Undo();
    EXPECT_EQ(buf.bytes, (std::vector<uint8_t>{0, 1, 2, 3}));
    EXPECT_FALSE(history.CanUndo());
    history.Redo();
    // An insertion at 6 cannot happen in a 4-byte buffer.
    EXPECT_EQ(buf.Size(), 4);
}

TEST_F(HistoryTest, OldBytesAreNeverReadBeyondTheBuffer) {
    // A replacement that claims more old bytes than the buffer holds keeps
    // only those that exist.
    std::vector<uint8_t> v{0x10};
    history.RecordReplace(v.data(), 0, 1, 8, 5, true, false);
    EXPECT_EQ(history.Record(0).OldCount, 2);
}

} // namespace
