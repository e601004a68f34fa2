#pragma once
// THistory: the ring of the last edits of one hex view, undone and redone on
// the view's own buffer.

#include <cstdint>
#include <functional>
#include <vector>

// One step. Kind 'O': one byte overwritten in place (OldBytes[0] ->
// NewBytes[0]); kind 'R': at Offset, OldCount bytes replaced by NewCount
// bytes (either may be 0). A slot's arrays only grow while the ring is used,
// so they may be longer than the counts.
struct TURData {
    int32_t Offset = 0;
    std::vector<uint8_t> OldBytes;
    int32_t OldCount = 0;
    std::vector<uint8_t> NewBytes;
    int32_t NewCount = 0;
    uint8_t WasSelActive = 0;
    uint8_t WasModified = 0;
    char Kind = 0;
};

// What the history needs of the view that owns it.
class THistoryOwner {
public:
    virtual ~THistoryOwner() = default;
    virtual int32_t Size() const = 0;
    virtual uint8_t* Data() = 0; // Size() valid bytes
    // Moves the block first..last to start at to; the buffer then ends with it.
    virtual void MoveBytes(int32_t first, int32_t last, int32_t to) = 0;
    virtual void GotoOffset(int32_t offset) = 0;
};

using THistoryNotify = std::function<void(bool bEnableUndo, bool bEnableRedo)>;

class THistory {
public:
    THistory(int32_t capacity, THistoryOwner& owner);

    // Resizes the ring and empties it; no notification.
    void SetCapacity(int32_t n);

    void RecordOverwrite(int32_t offset, uint8_t newByte, bool modified, uint8_t oldByte);
    // New bytes come from source[start .. start + newCount - 1]; the oldCount
    // old bytes are read from the owner's buffer at offset, so the step is
    // recorded before the buffer changes.
    void RecordReplace(const uint8_t* source, int32_t start, int32_t newCount, int32_t offset,
                       int32_t oldCount, bool selActive, bool modified);

    void Undo();
    void Redo();
    void UpdateState();

    int32_t Capacity() const { return capacity_; }
    int32_t UndoCount() const { return undoCount_; }
    int32_t NextSlot() const { return nextSlot_; }
    int32_t RedoLimit() const { return redoLimit_; }
    bool CanUndo() const { return canUndo_; }
    bool CanRedo() const { return canRedo_; }
    const TURData& Record(int32_t slot) const { return records_[size_t(slot)]; }

    THistoryNotify OnChange;

private:
    void Advance();
    // Applies a step in one direction; a step whose range no longer lies in
    // the buffer is left alone.
    void Apply(const TURData& step, bool forward);

    int32_t capacity_ = 0;
    int32_t undoCount_ = 0;
    int32_t nextSlot_ = 0;
    int32_t redoLimit_ = 0;
    std::vector<TURData> records_;
    THistoryOwner& owner_;
    bool canUndo_ = false;
    bool canRedo_ = false;
};
