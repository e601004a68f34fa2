#include "undoredo.h"

#include <algorithm>

THistory::THistory(int32_t capacity, THistoryOwner& owner) : owner_(owner) {
    SetCapacity(capacity);
}

void THistory::SetCapacity(int32_t n) {
    capacity_ = std::max(n, 1);
    undoCount_ = nextSlot_ = redoLimit_ = 0;
    records_.resize(size_t(capacity_));
    canUndo_ = canRedo_ = false;
    for (auto& r : records_) {
        r.OldBytes.assign(1, 0);
        r.NewBytes.assign(1, 0);
        r.OldBytes.shrink_to_fit();
        r.NewBytes.shrink_to_fit();
    }
}

void THistory::Advance() {
    nextSlot_ = nextSlot_ + 1 < capacity_ ? nextSlot_ + 1 : 0;
    if (undoCount_ < capacity_) {
        ++undoCount_;
        redoLimit_ = undoCount_;
    }
    UpdateState();
}

void THistory::RecordOverwrite(int32_t offset, uint8_t newByte, bool modified, uint8_t oldByte) {
    TURData& r = records_[size_t(nextSlot_)];
    r.WasModified = modified ? 1 : 0;
    r.Offset = offset;
    r.NewBytes[0] = newByte;
    r.OldBytes[0] = oldByte;
    r.WasSelActive = 0;
    r.Kind = 'O';
    Advance();
}

void THistory::RecordReplace(const uint8_t* source, int32_t start, int32_t newCount, int32_t offset,
                             int32_t oldCount, bool selActive, bool modified) {
    TURData& r = records_[size_t(nextSlot_)];
    // Only bytes that really are in the buffer can be recorded as old ones.
    newCount = std::max(newCount, 0);
    oldCount = std::clamp(oldCount, 0, std::max(owner_.Size() - std::max(offset, 0), 0));
    r.WasModified = modified ? 1 : 0;
    if (newCount > 0) {
        if (r.NewBytes.size() < size_t(newCount)) r.NewBytes.resize(size_t(newCount));
        std::copy(source + start, source + start + newCount, r.NewBytes.begin());
    }
    if (oldCount > 0) {
        if (r.OldBytes.size() < size_t(oldCount)) r.OldBytes.resize(size_t(oldCount));
        const uint8_t* buf = owner_.Data() + offset;
        std::copy(buf, buf + oldCount, r.OldBytes.begin());
    }
    r.NewCount = newCount;
    r.OldCount = oldCount;
    r.Offset = offset;
    r.WasSelActive = selActive ? 1 : 0;
    r.Kind = 'R';
    Advance();
}

void THistory::Apply(const TURData& s, bool forward) {
    const int32_t size = owner_.Size();
    if (s.Offset < 0) return;
    if (s.Kind == 'O') {
        if (s.Offset >= size) return;
        owner_.Data()[s.Offset] = forward ? s.NewBytes[0] : s.OldBytes[0];
        return;
    }
    if (s.Kind != 'R') return;
    const int32_t removeCount = forward ? s.OldCount : s.NewCount;
    const int32_t putCount = forward ? s.NewCount : s.OldCount;
    const std::vector<uint8_t>& put = forward ? s.NewBytes : s.OldBytes;
    if (int64_t(s.Offset) + removeCount > size) return;
    if (removeCount > 0) owner_.MoveBytes(s.Offset + removeCount, owner_.Size() - 1, s.Offset);
    if (putCount > 0) {
        owner_.MoveBytes(s.Offset, owner_.Size() - 1, s.Offset + putCount);
        std::copy(put.begin(), put.begin() + putCount, owner_.Data() + s.Offset);
    }
}

void THistory::Undo() {
    if (undoCount_ > 0) {
        --undoCount_;
        nextSlot_ = nextSlot_ <= 0 ? capacity_ - 1 : nextSlot_ - 1;
        const TURData& s = records_[size_t(nextSlot_)];
        Apply(s, false);
        owner_.GotoOffset(s.Offset);
    }
    UpdateState();
}

void THistory::Redo() {
    if (undoCount_ < redoLimit_) {
        const TURData& s = records_[size_t(nextSlot_)];
        Apply(s, true);
        owner_.GotoOffset(s.Offset);
        ++undoCount_;
        nextSlot_ = nextSlot_ + 1 < capacity_ ? nextSlot_ + 1 : 0;
    }
    UpdateState();
}

void THistory::UpdateState() {
    canRedo_ = undoCount_ < redoLimit_;
    canUndo_ = undoCount_ >= 1;
    if (OnChange) OnChange(canUndo_, canRedo_);
}
