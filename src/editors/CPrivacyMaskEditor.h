// The editor of a device's privacy masks: up to the device's number of
// rectangles ("paratest=maxmaskarea") that the device blanks in its picture.
// Each mask is a motion area editor of its own (one rectangle in the
// device's mask grid, "paratest=maskareaxlimit" by "paratest=maskareaylimit"
// units, with its enable flag and label) that this editor drives: it selects
// one mask at a time, hands it the mouse, and draws them all.
//
// The mouse: a press is held back until the pointer has moved more than 9
// pixels on either axis, so a click never moves a mask; then the selected
// mask is dragged as a motion area is. Every left-button release, after a
// drag or after a click, selects the next mask (after the last, the first).
// A right-button release opens the menu: one item per mask (the selected one
// marked "* "), the selected mask's switch and its maximal area, all masks
// off, on, reset or restored, and the save.
//
// The device keeps the masks as a list of 15-character items, one per mask:
//
//   position 0      "1" enabled, "0" not
//   positions 1-2   the mask's index (0-based), two decimal digits; read back
//                   by the digit at position 2 alone, as one hexadecimal digit
//   positions 3-14  x1, y1, x2, y2 in mask grid units, three hexadecimal
//                   digits each (lower case)
//
// so mask 3 (index 2) enabled at (16, 8, 32, 24) is 102010008020018. The
// editor reads "paratest=maskarealist.all" (the items joined by ";") when it
// is made, and a save writes "maskarea" once per mask, in order, stopping at
// the first the device refuses.
//
// Threads: as every overlay control. The editor's lock is taken first and a
// mask's own lock inside it.
#pragma once

#include "editors/CMotionAreaEditor.h"
#include "platform/CCritSection.h"

#include <string>
#include <vector>

class CPrivacyMaskEditor : public COverlayControl {
public:
    // Popup menu identifiers.
    static constexpr UINT kCmdDisableMask = 33001;
    static constexpr UINT kCmdEnableMask = 33002;
    static constexpr UINT kCmdDisableAll = 33003;
    static constexpr UINT kCmdEnableAll = 33004;
    static constexpr UINT kCmdResetAll = 33005;
    static constexpr UINT kCmdSelectMax = 33006;
    static constexpr UINT kCmdRestoreAll = 33007;
    static constexpr UINT kCmdSave = 33008;
    // The first mask's item; mask i is kCmdFirstMask + i.
    static constexpr UINT kCmdFirstMask = 33009;
    static constexpr UINT kCmdLastMask = 33998;
    // A press becomes a drag once the pointer moved more than this on an axis.
    static constexpr int32_t kDragThreshold = 9;
    // The most masks an editor makes: the item's index has two decimal
    // digits. A device claiming more gets this many, so that its answer
    // cannot make the editor build editors (and ask questions) without end.
    static constexpr int32_t kMaxMasks = 99;
    static constexpr size_t kItemLength = 15;
    static constexpr float kAlpha = 0.5f;

    // The construction arguments of every overlay control. Without a
    // "supportmaskarea" of 1, a dialect or a "paratest=maxmaskarea" answer
    // the editor has no masks: it draws nothing, ignores the mouse and
    // offers no menu.
    CPrivacyMaskEditor(CDeviceProfile* dialect, CHttpLink* link, const char* deviceAddress,
                       const int32_t* clientSize, const int32_t* videoRect, HWND window, HDC backBufferDc,
                       int32_t channel);
    ~CPrivacyMaskEditor() override;

    int OnMouseMove(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    int OnButtonDown(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    int OnButtonUp(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    void OnCommand(int32_t id) override;
    void Paint() override;
    int Save(int showMessage) override;

    // The list item of mask `index` as a save writes it.
    std::string ListItem(int32_t index);
    // Reads a device's "maskarealist.all" value into the masks.
    void ReadList(const std::string& list);
    void Select(int32_t index);

    int32_t MaskCount();
    int32_t Selected();
    // The mask of that index (owned by the editor), null beyond the count.
    CMotionAreaEditor* Mask(int32_t index);

private:
    bool PressStored() const { return mPressX >= 0; }
    void ClearPress() { mPressX = -1; }

    // --- Members, in this order (all guarded by mLock). ---
    int32_t mMaskCount = 0;
    int32_t mSelected = 0;
    std::vector<CMotionAreaEditor*> mMasks; // owned
    int32_t mPressX = -1;                   // -1: no press stored
    int32_t mPressY = 0;
    int32_t mPressKeys = 0;
    int32_t mPressExtra = 0;
    media_util::CCritSection mLock;
};
