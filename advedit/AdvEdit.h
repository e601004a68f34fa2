// TAdvEdit: a single-line entry field that admits only the text of its edit
// type, keeps a fixed prefix and suffix around its value, limits the integer
// part's length, formats numbers, and colours itself by focus, modified and
// error state. The value rules and the keystroke filter are plain code in
// AdvEditValue and AdvEditFilter; this class feeds them Qt's events.
#pragma once

#include "AdvEdDD.h"
#include "AdvEditFilter.h"
#include "AdvEditLabel.h"
#include "AdvEditRule.h"
#include "AdvEditStore.h"
#include "AdvEditValue.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPoint>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QMenu;
class QProxyStyle;
class TAdvEdit;

// The drop target of one field: the drop caret follows the mouse, and
// dropped text goes in at the character under it.
class TEditDropTarget : public TAEDropTarget {
public:
    explicit TEditDropTarget(TAdvEdit* edit) : m_edit(edit) {}

protected:
    void DropText(const QPoint& pt, const QString& text) override;
    void DragMoved(const QPoint& pt, bool& allow) override;

private:
    TAdvEdit* m_edit;
};

enum TEditAlign { eaLeft, eaRight, eaDefault, eaCenter };

class TAdvEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TAdvEdit(QWidget* parent = nullptr);
    ~TAdvEdit() override;

    // Set-up from a stored description: between BeginLoad and Loaded, property
    // writes apply but nothing is marked modified, no validation runs and the
    // colour states stay put. Loaded takes the normal colours and applies Flat.
    void BeginLoad();
    void Loaded();
    bool IsLoading() const { return m_loading; }

    // The value: the shown text without prefix and suffix. Writing checks and
    // formats it by edit type and clears the modified mark.
    QString Text() const;
    void SetText(const QString& value);
    // The Qt names do the same, so that code holding a TAdvEdit gets the value.
    QString text() const { return Text(); }
    void setText(const QString& value) { SetText(value); }
    // Prefix + value + suffix as the editor holds it.
    QString ShownText() const { return QLineEdit::text(); }

    TAdvEditType EditType() const { return m_s.editType; }
    void SetEditType(TAdvEditType type);
    QString Prefix() const { return m_s.prefix; }
    void SetPrefix(const QString& prefix);
    QString Suffix() const { return m_s.suffix; }
    void SetSuffix(const QString& suffix);
    int LengthLimit() const { return m_s.lengthLimit; }
    void SetLengthLimit(int limit) { m_s.lengthLimit = limit; }
    bool TabOnFullLength() const { return m_s.tabOnFullLength; }
    void SetTabOnFullLength(bool on) { m_s.tabOnFullLength = on; }
    int Precision() const { return m_s.precision; }
    void SetPrecision(int precision);
    bool Signed() const { return m_s.isSigned; }
    void SetSigned(bool on);
    bool AutoThousandSeparator() const { return m_s.autoThousandSeparator; }
    void SetAutoThousandSeparator(bool on);
    bool ExcelStyleDecimalSeparator() const { return m_s.excelStyleDecimalSeparator; }
    void SetExcelStyleDecimalSeparator(bool on) { m_s.excelStyleDecimalSeparator = on; }
    bool ReturnIsTab() const { return m_returnIsTab; }
    void SetReturnIsTab(bool on) { m_returnIsTab = on; }
    bool CanUndo() const { return m_s.canUndo; }
    void SetCanUndo(bool on);
    QString EmptyText() const { return m_emptyText; }
    void SetEmptyText(const QString& text);
    // The editor's length limit: stops what the user types, pastes and drops;
    // the program's own writes are never cut. The Qt names do the same.
    int MaxLength() const { return m_maxLength; }
    void SetMaxLength(int length) { m_maxLength = length; }
    int maxLength() const { return MaxLength(); }
    void setMaxLength(int length) { SetMaxLength(length); }
    bool AutoSelect() const { return m_autoSelect; }
    void SetAutoSelect(bool on) { m_autoSelect = on; }
    bool PassKeysToParent() const { return m_passKeysToParent; }

    double ValueAsFloat() const;
    void SetValueAsFloat(double x);
    void SetValueAsInteger(int32_t n);
    TValueKind ValueKind(const QString& text) const { return ::ValueKind(text, Separators()); }
    double ValueToFloat(const QString& text) const { return ::ValueToFloat(text, Separators()); }
    void RegroupThousands();
    void SelectValue();
    // Decimal and thousand separators of the field's locale.
    TAdvLocale Separators() const { return TAdvLocale::From(locale()); }
    TAdvSettings Settings() const;

    // The modified mark: the editor's modified flag and its colouring.
    bool Modified() const { return isModified(); }
    void SetModifiedMark(bool on);
    bool ErrorState() const { return m_errorState; }
    void SetErrorState(bool on);
    QString EntryText() const { return m_entryText; }

    // Colours and look.
    QColor Color() const { return m_color; }
    void SetColor(const QColor& color);
    QColor FontColor() const;
    void SetFontColor(const QColor& color);
    QColor FocusColor() const { return m_focusColor; }
    void SetFocusColor(const QColor& c) { m_focusColor = c; }
    QColor FocusFontColor() const { return m_focusFontColor; }
    void SetFocusFontColor(const QColor& c) { m_focusFontColor = c; }
    bool FocusBorder() const { return m_focusBorder; }
    void SetFocusBorder(bool on) {
        m_focusBorder = on;
        update();
    }
    int FocusWidthInc() const { return m_focusWidthInc; }
    void SetFocusWidthInc(int px) { m_focusWidthInc = px; }
    TEditAlign FocusAlign() const { return m_focusAlign; }
    void SetFocusAlign(TEditAlign a) { m_focusAlign = a; }
    bool AutoFocus() const { return m_autoFocus; }
    void SetAutoFocus(bool on) { m_autoFocus = on; }
    bool ShowModified() const { return m_showModified; }
    void SetShowModified(bool on) { m_showModified = on; }
    QColor ModifiedColor() const { return m_modifiedColor; }
    void SetModifiedColor(const QColor& c) { m_modifiedColor = c; }
    bool ShowError() const { return m_showError; }
    void SetShowError(bool on) { m_showError = on; }
    QColor ErrorColor() const { return m_errorColor; }
    void SetErrorColor(const QColor& c) { m_errorColor = c; }
    QColor ErrorFontColor() const { return m_errorFontColor; }
    void SetErrorFontColor(const QColor& c) { m_errorFontColor = c; }
    int ErrorMarkerPos() const { return m_errorMarkerPos; }
    void SetErrorMarkerPos(int pos) {
        m_errorMarkerPos = pos;
        update();
    }
    int ErrorMarkerLen() const { return m_errorMarkerLen; }
    void SetErrorMarkerLen(int len) {
        m_errorMarkerLen = len;
        update();
    }
    QColor DisabledColor() const { return m_disabledColor; }
    void SetDisabledColor(const QColor& c);
    TEditAlign EditAlign() const { return m_editAlign; }
    void SetEditAlign(TEditAlign a);
    bool Flat() const { return m_flat; }
    void SetFlat(bool on);
    QColor FlatLineColor() const { return m_flatLineColor; }
    void SetFlatLineColor(const QColor& c) {
        m_flatLineColor = c;
        update();
    }
    bool FlatParentColor() const { return m_flatParentColor; }
    void SetFlatParentColor(bool on) {
        m_flatParentColor = on;
        update();
    }
    bool SoftBorder() const { return m_softBorder; }
    void SetSoftBorder(bool on) {
        m_softBorder = on;
        update();
    }
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool on);
    bool ShowURL() const { return m_showURL; }
    void SetShowURL(bool on) { m_showURL = on; }
    QColor URLColor() const { return m_urlColor; }
    void SetURLColor(const QColor& c) { m_urlColor = c; }
    bool HintShowLargeText() const { return m_hintShowLargeText; }
    void SetHintShowLargeText(bool on) { m_hintShowLargeText = on; }
    bool IsUrlLook() const { return m_urlLook; }
    bool MouseInside() const { return m_mouseInside; }

    // Clipboard commands as the editor's shortcuts and context menu run them.
    void CopyToClipboard();
    void CutToClipboard();
    void PasteFromClipboard();
    // The editor's undo history of the user's changes; Undo does nothing
    // where CanUndo is off (always in a password field).
    void Undo();
    void Redo();
    bool UndoAvailable() const { return m_s.canUndo && !m_undo.empty(); }
    bool RedoAvailable() const { return m_s.canUndo && !m_redo.empty(); }
    // Deletes the selected part of the value, as the Delete key does.
    void DeleteSelection();
    // The Qt names of the editor commands run the control's own.
    void undo() { Undo(); }
    void redo() { Redo(); }
    void selectAll() { SelectValue(); }
    // The editor's context menu, every entry routed through the control's
    // commands above; the caller owns it.
    QMenu* CreateContextMenu();

    // Top-left pixel position of character `index` of the shown text, where
    // the editor draws it (alignment and horizontal scrolling included).
    QPoint CharPos(int index) const;
    // The text colour of the disabled field: the window's grey text, darkened
    // where needed to stay legible on DisabledColor.
    QColor DisabledFontColor() const;

    // Attached caption label, created by the first caption write.
    QString LabelCaption() const;
    void SetLabelCaption(const QString& caption);
    QLabel* Label() const { return m_label; }
    TLabelPosition LabelPosition() const { return m_labelPosition; }
    void SetLabelPosition(TLabelPosition p);
    int LabelMargin() const { return m_labelMargin; }
    void SetLabelMargin(int px);
    QFont LabelFont() const { return m_labelFont; }
    void SetLabelFont(const QFont& f);
    bool LabelTransparent() const { return m_labelTransparent; }
    void SetLabelTransparent(bool on);
    bool LabelAlwaysEnabled() const { return m_labelAlwaysEnabled; }
    void SetLabelAlwaysEnabled(bool on);
    bool FocusLabel() const { return m_focusLabel; }
    void SetFocusLabel(bool on) { m_focusLabel = on; }
    void PlaceLabel();
    void setVisible(bool visible) override;

    // Storage of the shown text between runs, under the field's objectName().
    TPersistence& Persistence() { return m_persistence; }
    // Writes Prefix + Text + Suffix to the store when persistence is enabled.
    // A write that fails returns false and raises OnStoreError (a warning on
    // the log when that is unset).
    bool StoreText();

    // Text drag and drop.
    bool OleDropSource() const { return m_oleDropSource; }
    void SetOleDropSource(bool on) { m_oleDropSource = on; }
    bool OleDropTarget() const { return m_dropTarget != nullptr; }
    void SetOleDropTarget(bool on);
    // Drop caret position, (-1, -1) when there is none.
    QPoint DropCaret() const { return m_dropCaret; }
    bool DragPending() const { return m_dragPending; }
    bool DraggingFromSelf() const { return m_draggingFromSelf; }

    // Events; an unset one is skipped.
    std::function<void(TAdvEdit*)> OnChange;
    std::function<void(TAdvEdit*, const QString& value, bool& isValid)> OnValueValidate;
    std::function<void(TAdvEdit*, const QString& value, bool& allow)> OnClipboardCopy;
    std::function<void(TAdvEdit*, const QString& value, bool& allow)> OnClipboardCut;
    std::function<void(TAdvEdit*, const QString& value, bool& allow)> OnClipboardPaste;
    // A write of the stored text failed; `reason` says why.
    std::function<void(TAdvEdit*, const QString& reason)> OnStoreError;
    // Sees each character given to the editor (and Return); a null character cancels it.
    std::function<void(TAdvEdit*, QChar& key)> OnKeyPress;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void changeEvent(QEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    bool event(QEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dragLeaveEvent(QDragLeaveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    // Runs a drag of `data` and returns how it ended (IgnoreAction when it was
    // cancelled). The platform's drag loop by default.
    virtual Qt::DropAction StartDrag(QMimeData* data, Qt::DropActions allowed);

private:
    friend class TEditDropTarget;
    void SetDropCaret(const QPoint& pos);
    void RestoreText();
    void InsertDroppedText(const QPoint& pt, const QString& text);

    TEditBox CurrentBox() const;
    // Where a change comes from: the program (replaces the text and the undo
    // history), the user (recorded for undo), or the undo history itself.
    enum class TChange { Program, User, History };
    // Copies a box back into the editor, through the control's rule (Settle):
    // every change of the editor ends here. Returns false when the change was
    // refused and the editor kept its state.
    bool ApplyBox(TEditBox box, const TFilterResult& r, TChange change);
    // Settles whatever the editor's own event handling changed.
    void SettleEditor();
    // Writes the value again when a setting no longer takes it.
    void ReapplyIfRefused();
    void DeleteForward(bool word);
    void StepHistory(std::vector<TEditBox>& from, std::vector<TEditBox>& to);
    void ReplaceShownText(const QString& text);
    void OnTextChanged();
    void SetBackground(const QColor& c);
    void SetUrlLook(bool on);
    void UpdateUrlLook();
    void OpenUrl();
    void RequestFocusNext();
    void ForwardKeyToParent(int key);
    void HandleCharacter(QChar c, bool ctrl, bool keypad);
    void RunShortcut(char16_t code);
    QString SelectedValuePart() const;
    void ApplyTextRect();
    void DrawFocusBorder(class QPainter& p, bool hot) const;
    void DrawErrorMarker(class QPainter& p) const;
    QColor ParentColor() const;

    TAdvSettings m_s;
    int m_maxLength = 32767;
    TEditBox m_settled; // the editor as the last change left it
    std::vector<TEditBox> m_undo;
    std::vector<TEditBox> m_redo;
    bool m_applying = false;
    bool m_mouseSelecting = false; // between a press and its release
    QProxyStyle* m_passwordStyle = nullptr;
    bool m_loading = false;
    bool m_returnIsTab = false;
    bool m_autoSelect = true;
    bool m_passKeysToParent = true;
    bool m_errorState = false;
    QString m_emptyText;
    QString m_entryText;

    QColor m_color;
    QColor m_shownBackground; // background in force, also while transparent
    QColor m_normalColor;
    QColor m_normalFontColor;
    QColor m_preFlatColor;
    QColor m_focusColor;
    QColor m_focusFontColor;
    QColor m_modifiedColor;
    QColor m_errorColor{255, 0, 0};
    QColor m_errorFontColor{255, 255, 255};
    QColor m_disabledColor{192, 192, 192};
    QColor m_flatLineColor{0, 0, 0};
    QColor m_urlColor{0, 0, 255};
    bool m_focusBorder = false;
    int m_focusWidthInc = 0;
    TEditAlign m_focusAlign = eaDefault;
    TEditAlign m_editAlign = eaLeft;
    TEditAlign m_savedAlign = eaLeft;
    bool m_alignSwitching = false;
    bool m_autoFocus = false;
    bool m_showModified = false;
    bool m_showError = false;
    int m_errorMarkerPos = 0;
    int m_errorMarkerLen = 0;
    bool m_flat = false;
    bool m_savedFrame = true;
    bool m_flatParentColor = true;
    bool m_softBorder = false;
    bool m_transparent = false;
    bool m_showURL = false;
    bool m_urlLook = false;
    bool m_hintShowLargeText = false;
    bool m_mouseInside = false;

    QPointer<QLabel> m_label;
    TLabelPosition m_labelPosition = lpLeftTop;
    int m_labelMargin = 4;
    QFont m_labelFont;
    bool m_labelTransparent = false;
    bool m_labelAlwaysEnabled = false;
    bool m_focusLabel = false;

    TPersistence m_persistence;

    bool m_oleDropSource = false;
    std::unique_ptr<TEditDropTarget> m_dropTarget;
    QPoint m_dropCaret{-1, -1};
    bool m_dragPending = false;
    bool m_pressWithheld = false; // the editor did not see the press of the current click
    bool m_draggingFromSelf = false;
    bool m_dropDeclined = false; // the last drop landed on the field's own selection
};
