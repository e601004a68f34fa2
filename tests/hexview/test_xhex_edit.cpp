// Editing in the hex view's core: typing in both columns and both input
// modes, delete, cut, copy and paste with their clipboard forms, ReadOnly,
// and undo/redo of random edit scripts checked against a plain vector.
#include "HexViewCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

namespace {

struct EditHost : HexViewHost {
    HexClipboardContent clip;
    int beeps = 0;
    int clipboardWrites = 0;
    int caretPlacements = 0;
    void Beep() override { ++beeps; }
    void CaretPlaced(int32_t) override { ++caretPlacements; }
    void PutOnClipboard(const std::string& text, const std::vector<uint8_t>& block) override {
        ++clipboardWrites;
        clip.hasText = true;
        clip.text = text;
        clip.hasBlock = true;
        clip.block = block;
    }
    HexClipboardContent ClipboardContent() override { return clip; }
};

using Bytes = std::vector<uint8_t>;

class HexEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        HexViewCore::InsertMode = false;
        core.ApplyLayout(ComputeHexViewLayout({}, {42, 13, 14, 13, 8, 13}, 160), 500, 160);
    }
    void TearDown() override { HexViewCore::InsertMode = false; }
    void Fill(int n) {
        core.SetLastOffset(n - 1);
        for (int i = 0; i < n; ++i)
            core.SetByte(i, uint8_t(i));
    }
    Bytes Content() const { return Bytes(core.Data(), core.Data() + core.Size()); }
    void Type(const char* s) {
        for (; *s; ++s)
            core.Char(uint8_t(*s));
    }
    void Select(int32_t s, int32_t e) {
        core.SelStart = s;
        core.SelEnd = e;
        core.SetSelection(true);
    }
    void ToTextColumn() { core.CaretCol = core.BytesPerLine() + 1; }

    EditHost host;
    HexViewCore core{host};
};

TEST_F(HexEditTest, OverwritingAByteDigitByDigit) {
    Fill(10);
    core.SetByte(3, 0);
    core.GotoOffset(3);
    core.Char('F');
    EXPECT_EQ(core.ByteAt(3), 0x0F);
    EXPECT_EQ(core.CaretOffset(), 3);
    EXPECT_EQ(core.DigitCount, 1);
    core.Char('f');
    EXPECT_EQ(core.ByteAt(3), 0xFF);
    EXPECT_EQ(core.CaretOffset(), 4);
    EXPECT_EQ(core.DigitCount, 0);
    EXPECT_EQ(core.Size(), 10);
    THistory& h = core.History();
    ASSERT_EQ(h.UndoCount(), 2);
    EXPECT_EQ(h.Record(0).Kind, 'O');
    EXPECT_EQ(h.Record(0).NewBytes[0], 0x0F);
    EXPECT_EQ(h.Record(0).OldBytes[0], 0x00);
    EXPECT_EQ(h.Record(0).WasModified, 0);
    EXPECT_EQ(h.Record(1).NewBytes[0], 0xFF);
    EXPECT_EQ(h.Record(1).OldBytes[0], 0x0F);
    EXPECT_EQ(h.Record(1).WasModified, 1);
    EXPECT_TRUE(core.Modified);
}

TEST_F(HexEditTest, InsertModeOpensAByte) {
    Fill(10);
    HexViewCore::InsertMode = true;
    core.GotoOffset(3);
    core.Char('A');
    EXPECT_EQ(core.Size(), 11);
    EXPECT_EQ(Content(), (Bytes{0, 1, 2, 0x0A, 3, 4, 5, 6, 7, 8, 9}));
    ASSERT_EQ(core.History().UndoCount(), 1);
    const TURData& r = core.History().Record(0);
    EXPECT_EQ(r.Kind, 'R');
    EXPECT_EQ(r.OldCount, 0);
    EXPECT_EQ(r.NewCount, 1);
    // The second digit finishes the inserted byte, it does not insert again.
    core.Char('5');
    EXPECT_EQ(core.Size(), 11);
    EXPECT_EQ(core.ByteAt(3), 0xA5);
    EXPECT_EQ(core.CaretOffset(), 4);
}

TEST_F(HexEditTest, TypingAtTheEndAppendsInOverwriteMode) {
    Fill(4);
    core.GotoOffset(4);
    Type("7e");
    EXPECT_EQ(Content(), (Bytes{0, 1, 2, 3, 0x7E}));
    EXPECT_EQ(core.CaretOffset(), 5);
    // A digit continued at the end position starts a new byte there.
    core.Char('1');
    core.GotoOffset(6);
    core.DigitCount = 1;
    core.Char('2');
    EXPECT_EQ(Content(), (Bytes{0, 1, 2, 3, 0x7E, 0x01, 0x02}));
}

TEST_F(HexEditTest, TypingOverASelectionReplacesIt) {
    Fill(10);
    core.GotoOffset(6);
    Select(5, 2);
    core.Char('7');
    EXPECT_EQ(Content(), (Bytes{0, 1, 0x07, 6, 7, 8, 9}));
    EXPECT_EQ(core.CaretOffset(), 2);
    EXPECT_EQ(core.DigitCount, 1);
    EXPECT_FALSE(core.SelActive);
    ASSERT_EQ(core.History().UndoCount(), 1);
    const TURData& r = core.History().Record(0);
    EXPECT_EQ(r.OldCount, 4);
    EXPECT_EQ(r.NewCount, 1);
    EXPECT_EQ(r.WasSelActive, 1);
    core.Undo();
    EXPECT_EQ(Content(), (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(HexEditTest, DecimalAndBinaryDigitsShiftTheByteUp) {
    Fill(4);
    core.HexMode = hmDec;
    core.GotoOffset(0);
    Type("255");
    EXPECT_EQ(core.ByteAt(0), 255);
    EXPECT_EQ(core.CaretOffset(), 1);
    Type("30");
    host.caretPlacements = 0;
    Type("0");
    EXPECT_EQ(core.ByteAt(1), 30);
    EXPECT_EQ(host.beeps, 1);
    // The refused digit still ends in a redraw, which places the caret.
    EXPECT_GE(host.caretPlacements, 1);
    EXPECT_EQ(core.DigitCount, 0);
    EXPECT_EQ(core.CaretOffset(), 1);
    core.HexMode = hmBin;
    core.GotoOffset(2);
    Type("10100101");
    EXPECT_EQ(core.ByteAt(2), 0xA5);
    EXPECT_EQ(core.CaretOffset(), 3);
}

TEST_F(HexEditTest, TypingInTheTextColumnWritesCharacters) {
    Fill(4);
    ToTextColumn();
    core.GotoOffset(1);
    Type("Hi!");
    EXPECT_EQ(Content(), (Bytes{0, 'H', 'i', '!'}));
    EXPECT_EQ(core.CaretOffset(), 4);
    core.Char(0xE9);
    EXPECT_EQ(Content(), (Bytes{0, 'H', 'i', '!', 0xE9}));
    EXPECT_EQ(core.DigitCount, 0);
}

TEST_F(HexEditTest, BackspaceAndDelete) {
    Fill(6);
    core.GotoOffset(0);
    core.KeyDown(HexKey::Backspace, HexMods::None);
    EXPECT_EQ(core.Size(), 6);
    core.GotoOffset(6);
    core.KeyDown(HexKey::Delete, HexMods::None);
    EXPECT_EQ(core.Size(), 6);
    core.KeyDown(HexKey::Backspace, HexMods::None);
    EXPECT_EQ(Content(), (Bytes{0, 1, 2, 3, 4}));
    core.GotoOffset(1);
    core.KeyDown(HexKey::Delete, HexMods::None);
    EXPECT_EQ(Content(), (Bytes{0, 2, 3, 4}));
    Select(1, 2);
    core.KeyDown(HexKey::Backspace, HexMods::None);
    EXPECT_EQ(Content(), (Bytes{0, 4}));
    EXPECT_FALSE(core.SelActive);
    EXPECT_EQ(core.CaretOffset(), 1);
}

TEST_F(HexEditTest, CopyPutsBothClipboardFormsByteForByte) {
    Fill(4);
    core.SetByte(1, 0x00);
    core.SetByte(2, 0x41);
    core.GotoOffset(3);
    Select(1, 2);
    core.KeyDown(HexKey::Insert, HexMods::Ctrl);
    EXPECT_EQ(host.clip.text, "00 41 ");
    EXPECT_EQ(host.clip.block, (Bytes{2, 0, 0, 0, 0x00, 0x41, 0}));
    ToTextColumn();
    core.GotoOffset(3);
    core.CopyToClipboard();
    EXPECT_EQ(host.clip.text, ".A");
    // Without a selection the clicked offset alone is copied.
    core.SetSelection(false);
    core.SelStart = core.SelEnd = 2;
    core.CopyToClipboard();
    EXPECT_EQ(host.clip.block, (Bytes{1, 0, 0, 0, 0x41, 0}));
}

TEST_F(HexEditTest, ClipboardBlockCountsAreLittleEndian) {
    Bytes many(300, 0x5A);
    const Bytes block = HexViewEncodeBlock(many.data(), 300);
    ASSERT_EQ(block.size(), 305u);
    EXPECT_EQ(block[0], 300 & 0xFF);
    EXPECT_EQ(block[1], 300 >> 8);
    EXPECT_EQ(block[2], 0);
    EXPECT_EQ(block[304], 0);
    HexClipboardContent c;
    c.hasBlock = true;
    c.block = block;
    Bytes back;
    ASSERT_TRUE(HexViewDecodeClipboard(c, back));
    EXPECT_EQ(back, many);
}

TEST_F(HexEditTest, PastingABlockOverASelection) {
    Fill(20);
    host.clip.hasBlock = true;
    host.clip.block = {3, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0};
    host.clip.hasText = true;
    host.clip.text = "ignored";
    core.GotoOffset(15);
    Select(10, 14);
    core.KeyDown(HexKey::Insert, HexMods::Shift);
    EXPECT_EQ(core.Size(), 18);
    EXPECT_EQ(core.ByteAt(10), 0xA1);
    EXPECT_EQ(core.ByteAt(12), 0xA3);
    EXPECT_EQ(core.ByteAt(13), 15);
    EXPECT_TRUE(core.SelActive);
    EXPECT_EQ(core.SelStart, 10);
    EXPECT_EQ(core.SelEnd, 12);
    EXPECT_EQ(core.CaretOffset(), 13);
    core.Undo();
    Bytes original(20);
    for (int i = 0; i < 20; ++i)
        original[size_t(i)] = uint8_t(i);
    EXPECT_EQ(Content(), original);
}

TEST_F(HexEditTest, PastingPlainTextInsertsItsCharacters) {
    Fill(4);
    host.clip.hasText = true;
    host.clip.text = std::string("41 0A ") + '\0' + "tail";
    core.GotoOffset(2);
    core.PasteFromClipboard();
    EXPECT_EQ(Content(), (Bytes{0, 1, '4', '1', ' ', '0', 'A', ' ', 2, 3}));
    EXPECT_EQ(core.CaretOffset(), 8);
}

TEST_F(HexEditTest, ShortBlocksPasteOnlyWhatTheyHold) {
    Fill(4);
    host.clip.hasBlock = true;
    host.clip.block = {0xFF, 0xFF, 0xFF, 0x7F, 0xC1, 0xC2};
    core.GotoOffset(4);
    core.PasteFromClipboard();
    EXPECT_EQ(Content(), (Bytes{0, 1, 2, 3, 0xC1, 0xC2}));
    // Nothing usable on the clipboard: nothing happens.
    host.clip = {};
    core.PasteFromClipboard();
    EXPECT_EQ(core.Size(), 6);
    EXPECT_EQ(core.History().UndoCount(), 1);
}

TEST_F(HexEditTest, CutCopiesThenRemovesTheSelection) {
    Fill(8);
    core.GotoOffset(6);
    Select(2, 5);
    core.CutToClipboard();
    EXPECT_EQ(Content(), (Bytes{0, 1, 6, 7}));
    EXPECT_EQ(host.clip.block, (Bytes{4, 0, 0, 0, 2, 3, 4, 5, 0}));
    EXPECT_FALSE(core.SelActive);
    EXPECT_EQ(core.CaretOffset(), 2);
    core.Undo();
    EXPECT_EQ(core.Size(), 8);
    EXPECT_EQ(core.ByteAt(5), 5);
}

TEST_F(HexEditTest, ReadOnlyBlocksEveryEditButCopyUndoAndRedo) {
    Fill(8);
    core.GotoOffset(2);
    Type("AB");
    ASSERT_EQ(core.ByteAt(2), 0xAB);
    core.ReadOnly = true;
    const Bytes before = Content();
    core.GotoOffset(1);
    Type("CD");
    HexViewCore::InsertMode = true;
    Type("1");
    ToTextColumn();
    Type("xyz");
    Select(0, 3);
    core.KeyDown(HexKey::Delete, HexMods::None);
    Select(0, 3);
    core.KeyDown(HexKey::Backspace, HexMods::None);
    Select(0, 3);
    core.CutToClipboard();
    EXPECT_EQ(host.clipboardWrites, 0);
    host.clip.hasText = true;
    host.clip.text = "pasted";
    core.KeyDown(HexKey::Insert, HexMods::Shift);
    EXPECT_EQ(Content(), before);
    EXPECT_EQ(core.History().UndoCount(), 2);
    Select(0, 1);
    core.KeyDown(HexKey::Insert, HexMods::Ctrl);
    EXPECT_EQ(host.clipboardWrites, 1);
    EXPECT_EQ(host.clip.text, ".."); // bytes 0 and 1, from the text column
    core.KeyDown(HexKey::Z, HexMods::Ctrl);
    core.KeyDown(HexKey::Z, HexMods::Ctrl);
    EXPECT_EQ(core.ByteAt(2), 2);
    core.KeyDown(HexKey::Y, HexMods::Ctrl);
    EXPECT_EQ(core.ByteAt(2), 0x0A);
}

// ---------------------------------------------------------------- model

// A random script of edits, undos, redos, new content and resizes, applied to
// the view and to a plain vector with its own caret; both must agree after
// every action. Every undo must give back exactly the buffer the undone step
// started from, every redo the buffer it left.
class EditScript {
public:
    EditScript(HexViewCore& core, EditHost& host, unsigned seed)
        : core_(core), host_(host), rng_(seed) {}

    void Run(int actions) {
        Bytes start(200);
        for (auto& b : start)
            b = uint8_t(rng_());
        core_.LoadData(start.data(), int32_t(start.size()));
        model_ = start;
        caret_ = 0;
        for (int i = 0; i < actions; ++i) {
            Step();
            ASSERT_EQ(View(), model_) << "action " << i << ", kind " << kind_;
            ASSERT_EQ(core_.CaretOffset(), caret_) << "action " << i << ", kind " << kind_;
        }
    }

    // Undoes every step the ring still holds, then redoes them all.
    void UndoAndRedoAll() {
        while (!undo_.empty())
            ASSERT_NO_FATAL_FAILURE(UndoOne());
        core_.Undo(); // nothing left: nothing changes
        ASSERT_EQ(View(), model_);
        EXPECT_FALSE(core_.History().CanUndo());
        while (!redo_.empty())
            ASSERT_NO_FATAL_FAILURE(RedoOne());
        EXPECT_FALSE(core_.History().CanRedo());
    }

    int Steps() const { return steps_; }

private:
    struct Change {
        Bytes before, after;
    };

    Bytes View() const { return Bytes(core_.Data(), core_.Data() + core_.Size()); }
    int Rand(int n) { return int(rng_() % unsigned(n)); }
    int32_t Size() const { return int32_t(model_.size()); }

    // Runs one call of the view; a step it records goes on the undo stack,
    // within the ring's capacity, and ends what could be redone.
    template <class F> void Call(F f) {
        const int32_t slot = core_.History().NextSlot();
        const int32_t count = core_.History().UndoCount();
        Bytes before = View();
        f();
        if (core_.History().NextSlot() == slot && core_.History().UndoCount() == count) return;
        ++steps_;
        undo_.push_back({std::move(before), View()});
        if (int(undo_.size()) > core_.History().Capacity()) undo_.erase(undo_.begin());
        redo_.clear();
    }

    void UndoOne() {
        const Change c = undo_.back();
        undo_.pop_back();
        core_.KeyDown(HexKey::Z, HexMods::Ctrl);
        ASSERT_EQ(View(), c.before) << "undo";
        redo_.push_back(c);
        model_ = c.before;
        caret_ = core_.CaretOffset();
        ASSERT_LE(caret_, Size());
    }

    void RedoOne() {
        const Change c = redo_.back();
        redo_.pop_back();
        core_.KeyDown(HexKey::Y, HexMods::Ctrl);
        ASSERT_EQ(View(), c.after) << "redo";
        undo_.push_back(c);
        model_ = c.after;
        caret_ = core_.CaretOffset();
        ASSERT_LE(caret_, Size());
    }

    // The selected bytes, as far as they lie in the data.
    bool Sel(int32_t& lo, int32_t& hi) const {
        if (!core_.SelActive) return false;
        lo = std::max(0, std::min(core_.SelStart, core_.SelEnd));
        hi = std::min(Size() - 1, std::max(core_.SelStart, core_.SelEnd));
        return lo <= hi;
    }
    void EraseSelection(int32_t lo, int32_t hi) {
        model_.erase(model_.begin() + lo, model_.begin() + hi + 1);
        caret_ = lo;
    }
    void Move(int32_t to) { caret_ = std::clamp(to, 0, Size()); }
    // The first digit or character of a byte: over the selection, inserted,
    // or in place.
    void PutByte(uint8_t v) {
        int32_t lo, hi;
        if (Sel(lo, hi)) {
            EraseSelection(lo, hi);
            model_.insert(model_.begin() + lo, v);
        } else if (HexViewCore::InsertMode || caret_ == Size()) {
            model_.insert(model_.begin() + caret_, v);
        } else {
            model_[size_t(caret_)] = v;
        }
    }
    void ToColumn(bool hex) {
        if (core_.CaretInHexColumn() != hex) core_.CaretCol += hex ? -core_.BytesPerLine() : core_.BytesPerLine();
    }

    void Step() {
        kind_ = Rand(16);
        switch (kind_) {
        case 0: { // move, in either column, ending any selection
            core_.SetSelection(false);
            ToColumn(Rand(2) != 0);
            const int32_t to = Rand(Size() + 3) - 1;
            core_.GotoOffset(to);
            Move(to);
            core_.DigitCount = 0;
            break;
        }
        case 1: { // select with Shift+arrows, either way
            const bool back = Rand(2) != 0;
            for (int k = Rand(6) + 1; k > 0; --k) {
                core_.KeyDown(back ? HexKey::Left : HexKey::Right, HexMods::Shift);
                Move(caret_ + (back ? -1 : 1));
            }
            break;
        }
        case 2:
        case 3: { // a byte typed as two hex digits
            ToColumn(true);
            core_.DigitCount = 0;
            const uint8_t v = uint8_t(rng_());
            PutByte(v);
            Move(caret_ + 1);
            static const char digits[] = "0123456789abcdef";
            Call([&] { core_.Char(uint8_t(digits[v >> 4])); });
            Call([&] { core_.Char(uint8_t(digits[v & 15])); });
            break;
        }
        case 4: { // a character typed in the text column
            ToColumn(false);
            core_.DigitCount = 0;
            const uint8_t c = uint8_t(32 + Rand(224));
            PutByte(c);
            Move(caret_ + 1);
            Call([&] { core_.Char(c); });
            break;
        }
        case 5: { // Delete
            int32_t lo, hi;
            if (Sel(lo, hi))
                EraseSelection(lo, hi);
            else if (caret_ < Size())
                model_.erase(model_.begin() + caret_);
            Call([&] { core_.KeyDown(HexKey::Delete, HexMods::None); });
            break;
        }
        case 6: { // Backspace
            int32_t lo, hi;
            if (Sel(lo, hi)) {
                EraseSelection(lo, hi);
            } else if (caret_ >= 1) {
                model_.erase(model_.begin() + caret_ - 1);
                --caret_;
            }
            Call([&] { core_.KeyDown(HexKey::Backspace, HexMods::None); });
            break;
        }
        case 7: { // Cut, as the menu allows it: with a selection
            int32_t lo, hi;
            if (!Sel(lo, hi)) break;
            clip_.assign(model_.begin() + lo, model_.begin() + hi + 1);
            EraseSelection(lo, hi);
            Call([&] { core_.CutToClipboard(); });
            break;
        }
        case 8: { // Copy: the selection, else the byte of the last click, if any
            int32_t lo, hi;
            if (!core_.SelActive) core_.SelStart = core_.SelEnd = caret_;
            const bool active = core_.SelActive;
            const int32_t s = core_.SelStart, e = core_.SelEnd;
            if (active && Sel(lo, hi))
                clip_.assign(model_.begin() + lo, model_.begin() + hi + 1);
            else if (!active && caret_ < Size())
                clip_.assign(1, model_[size_t(caret_)]);
            core_.KeyDown(HexKey::Insert, HexMods::Ctrl);
            // Nothing to copy leaves the clipboard as it was.
            ASSERT_EQ(host_.clip.block,
                      clip_.empty() ? Bytes{} : HexViewEncodeBlock(clip_.data(), int32_t(clip_.size())));
            // Copying reads the selection; it leaves it as it was.
            ASSERT_EQ(std::make_tuple(core_.SelActive, core_.SelStart, core_.SelEnd),
                      std::make_tuple(active, s, e));
            break;
        }
        case 9: { // Paste, over the selection or at the caret
            int32_t lo, hi;
            if (clip_.empty()) {
                // An empty block pastes nothing and records nothing.
                host_.clip.hasBlock = true;
                host_.clip.block = HexViewEncodeBlock(nullptr, 0);
                const auto selection = std::make_tuple(core_.SelActive, core_.SelStart, core_.SelEnd);
                const int32_t before = core_.History().UndoCount();
                core_.KeyDown(HexKey::Insert, HexMods::Shift);
                ASSERT_EQ(core_.History().UndoCount(), before);
                ASSERT_EQ(std::make_tuple(core_.SelActive, core_.SelStart, core_.SelEnd), selection);
                break;
            }
            const int32_t at = Sel(lo, hi) ? lo : caret_;
            if (Sel(lo, hi)) EraseSelection(lo, hi);
            model_.insert(model_.begin() + at, clip_.begin(), clip_.end());
            Move(at + int32_t(clip_.size()));
            Call([&] { core_.KeyDown(HexKey::Insert, HexMods::Shift); });
            break;
        }
        case 10: // Insert toggles the input mode
            core_.KeyDown(HexKey::Insert, HexMods::None);
            break;
        case 11:
        case 12: // undo, or redo what was undone
            if (!redo_.empty() && Rand(2))
                RedoOne();
            else if (!undo_.empty())
                UndoOne();
            break;
        case 13: { // the view grows or shrinks, keeping the caret on its byte
            const int h = 2 + Rand(10) * 13;
            core_.ApplyLayout(ComputeHexViewLayout({}, {42, 13, 14, 13, 8, 13}, h), 500, h);
            break;
        }
        case 14: { // a file of other bytes
            Bytes file(size_t(Rand(300)));
            for (auto& b : file)
                b = uint8_t(rng_());
            core_.LoadData(file.data(), int32_t(file.size()));
            model_ = file;
            caret_ = 0;
            undo_.clear();
            redo_.clear();
            break;
        }
        case 15: // new data: the first byte stays
            core_.NewData(0);
            model_ = View();
            caret_ = 0;
            undo_.clear();
            redo_.clear();
            break;
        }
    }

    HexViewCore& core_;
    EditHost& host_;
    std::mt19937 rng_;
    Bytes model_;
    int32_t caret_ = 0;
    Bytes clip_;
    std::vector<Change> undo_, redo_;
    int steps_ = 0;
    int kind_ = 0;
};

TEST_F(HexEditTest, RandomEditsMatchAPlainVectorAndUndoWithinCapacity) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        HexViewCore::InsertMode = false;
        host.clip = {};
        core.History().SetCapacity(seed % 3 == 0 ? 25 : 4999);
        EditScript script(core, host, seed);
        ASSERT_NO_FATAL_FAILURE(script.Run(400));
        ASSERT_GT(script.Steps(), 100);
        ASSERT_NO_FATAL_FAILURE(script.UndoAndRedoAll());
    }
}

} // namespace
