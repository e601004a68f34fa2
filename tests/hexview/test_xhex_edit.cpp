// Editing in the hex view's core: typing in both columns and both input
// modes, delete, cut, copy and paste with their clipboard forms, ReadOnly,
// and undo/redo of random edit scripts checked against a plain vector.
#include "HexViewCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
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

// A random script of edits, applied to the view and to a plain vector and
// compared after each edit; then undone to the start and redone to the end,
// each history step checked against the state the view had after it.
class EditScript {
public:
    EditScript(HexViewCore& core, unsigned seed) : core_(core), rng_(seed) {}

    void Run(int edits) {
        for (int i = 0; i < 40; ++i)
            model_.push_back(uint8_t(rng_()));
        core_.SetLastOffset(int32_t(model_.size()) - 1);
        for (size_t i = 0; i < model_.size(); ++i)
            core_.SetByte(int32_t(i), model_[i]);
        states_.push_back(model_);
        for (int i = 0; i < edits; ++i) {
            Step();
            ASSERT_EQ(View(), model_) << "edit " << i;
        }
    }

    void UndoAndRedo() {
        const int cap = core_.History().Capacity();
        const int n = int(states_.size()) - 1;
        const int back = std::min(n, cap);
        for (int k = n - 1; k >= n - back; --k) {
            core_.Undo();
            ASSERT_EQ(View(), states_[size_t(k)]) << "undo to step " << k;
        }
        EXPECT_FALSE(core_.History().CanUndo());
        core_.Undo(); // nothing left: nothing changes
        ASSERT_EQ(View(), states_[size_t(n - back)]);
        for (int k = n - back + 1; k <= n; ++k) {
            core_.Redo();
            ASSERT_EQ(View(), states_[size_t(k)]) << "redo to step " << k;
        }
        EXPECT_FALSE(core_.History().CanRedo());
    }

    int Steps() const { return int(states_.size()) - 1; }

private:
    Bytes View() const { return Bytes(core_.Data(), core_.Data() + core_.Size()); }
    int Rand(int n) { return int(rng_() % unsigned(n)); }

    // Runs one call of the view; when it recorded a step, remembers the
    // buffer as the state after that step.
    template <class F> void Call(F f) {
        const int32_t slot = core_.History().NextSlot();
        const int32_t count = core_.History().UndoCount();
        f();
        if (core_.History().NextSlot() != slot || core_.History().UndoCount() != count)
            states_.push_back(View());
    }

    // The selection as the view will use it.
    bool Sel(int32_t& lo, int32_t& hi) const {
        if (!core_.SelActive) return false;
        lo = std::max(0, std::min(core_.SelStart, core_.SelEnd));
        hi = std::min(int32_t(model_.size()) - 1, std::max(core_.SelStart, core_.SelEnd));
        return lo <= hi;
    }
    void PutByte(uint8_t v) {
        int32_t lo, hi;
        const int32_t a = core_.CaretOffset();
        if (Sel(lo, hi)) {
            model_.erase(model_.begin() + lo, model_.begin() + hi + 1);
            model_.insert(model_.begin() + lo, v);
        } else if (HexViewCore::InsertMode || a == int32_t(model_.size())) {
            model_.insert(model_.begin() + a, v);
        } else {
            model_[size_t(a)] = v;
        }
    }

    void Step() {
        const int32_t size = int32_t(model_.size());
        switch (Rand(10)) {
        case 0: { // move, in either column, ending any selection
            core_.SetSelection(false);
            core_.CaretCol = Rand(2) ? 1 : core_.BytesPerLine() + 1;
            core_.GotoOffset(Rand(size + 1));
            core_.DigitCount = 0;
            break;
        }
        case 1: { // select a range, either way round
            if (size == 0) break;
            const int32_t s = Rand(size), e = std::min(size - 1, s + Rand(8));
            core_.SelStart = Rand(2) ? s : e;
            core_.SelEnd = core_.SelStart == s ? e : s;
            core_.SetSelection(true);
            core_.DigitCount = 0;
            break;
        }
        case 2:
        case 3: { // a byte typed as two hex digits
            if (!core_.CaretInHexColumn()) {
                core_.CaretCol -= core_.BytesPerLine();
            }
            core_.DigitCount = 0;
            const uint8_t v = uint8_t(rng_());
            PutByte(v);
            static const char digits[] = "0123456789abcdef";
            Call([&] { core_.Char(uint8_t(digits[v >> 4])); });
            Call([&] { core_.Char(uint8_t(digits[v & 15])); });
            break;
        }
        case 4: { // a character typed in the text column
            if (core_.CaretInHexColumn()) core_.CaretCol += core_.BytesPerLine();
            core_.DigitCount = 0;
            const uint8_t c = uint8_t(32 + Rand(224));
            PutByte(c);
            Call([&] { core_.Char(c); });
            break;
        }
        case 5: { // Delete
            int32_t lo, hi;
            const int32_t a = core_.CaretOffset();
            if (Sel(lo, hi))
                model_.erase(model_.begin() + lo, model_.begin() + hi + 1);
            else if (a < size)
                model_.erase(model_.begin() + a);
            Call([&] { core_.KeyDown(HexKey::Delete, HexMods::None); });
            break;
        }
        case 6: { // Backspace
            int32_t lo, hi;
            const int32_t a = core_.CaretOffset();
            if (Sel(lo, hi))
                model_.erase(model_.begin() + lo, model_.begin() + hi + 1);
            else if (a >= 1)
                model_.erase(model_.begin() + a - 1);
            Call([&] { core_.KeyDown(HexKey::Backspace, HexMods::None); });
            break;
        }
        case 7: { // Cut, as the menu allows it: with a selection
            int32_t lo, hi;
            if (!Sel(lo, hi)) break;
            clip_.assign(model_.begin() + lo, model_.begin() + hi + 1);
            model_.erase(model_.begin() + lo, model_.begin() + hi + 1);
            Call([&] { core_.CutToClipboard(); });
            break;
        }
        case 8: { // Copy of a selection, then Paste elsewhere or over it
            int32_t lo, hi;
            if (Sel(lo, hi)) {
                clip_.assign(model_.begin() + lo, model_.begin() + hi + 1);
                core_.CopyToClipboard();
                if (Rand(2)) {
                    core_.SetSelection(false);
                    core_.GotoOffset(Rand(size + 1));
                }
            }
            if (clip_.empty()) break;
            const int32_t a = std::min(core_.CaretOffset(), size);
            if (Sel(lo, hi)) {
                model_.erase(model_.begin() + lo, model_.begin() + hi + 1);
                model_.insert(model_.begin() + lo, clip_.begin(), clip_.end());
            } else {
                model_.insert(model_.begin() + a, clip_.begin(), clip_.end());
            }
            Call([&] { core_.KeyDown(HexKey::Insert, HexMods::Shift); });
            break;
        }
        case 9: // Insert toggles the input mode
            core_.KeyDown(HexKey::Insert, HexMods::None);
            break;
        }
    }

    HexViewCore& core_;
    std::mt19937 rng_;
    Bytes model_;
    Bytes clip_;
    std::vector<Bytes> states_;
};

TEST_F(HexEditTest, RandomEditsMatchAPlainVectorAndUndoWithinCapacity) {
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        HexViewCore::InsertMode = false;
        core.History().SetCapacity(4999);
        core.SetLastOffset(-1);
        EditScript script(core, seed);
        script.Run(200);
        ASSERT_GT(script.Steps(), 100) << seed;
        script.UndoAndRedo();
    }
}

TEST_F(HexEditTest, RandomEditsUndoOnlyAsFarAsTheRingReaches) {
    for (unsigned seed : {11u, 12u}) {
        HexViewCore::InsertMode = false;
        core.History().SetCapacity(25);
        core.SetLastOffset(-1);
        EditScript script(core, seed);
        script.Run(150);
        ASSERT_GT(script.Steps(), 25) << seed;
        script.UndoAndRedo();
    }
}

} // namespace
