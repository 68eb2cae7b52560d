// The editor of a device's motion block grid: devices that detect motion in
// a grid of blocks (12 x 8 unless they say otherwise) instead of one
// rectangle. The user clicks a cell to switch it, or drags over a rectangle
// of cells to switch them all on - or, with the erase modifier (bit 0 of the
// mouse notifications' fourth value), off.
//
// Cells are numbered row by row from the top left (index = row x columns +
// column). The device keeps the grid as hexadecimal digits, four cells a
// digit: digit k holds cells 4k (bit 0) to 4k + 3 (bit 3), upper case, so a
// 12 x 8 grid is 24 digits and a grid whose first four cells only are on
// reads "F" and 23 zeros. The key is "motionblock", for a channel N
// "motionblock=N" when read and "motionblock=N:" followed by the digits when
// written (one item carries key, channel and digits).
//
// The overlay shows the cells that are on (red outline and diagonal), the
// cell under the pointer (near white; blue while erasing) and, during a drag,
// the cells it covers (green; blue while erasing).
//
// Threads: as every overlay control; mLock serialises the operations and is
// held across a save and its message box.
#pragma once

#include "editors/COverlayControl.h"
#include "platform/CCritSection.h"

#include <string>
#include <vector>

class CMotionBlockEditor : public COverlayControl {
public:
    static constexpr int32_t kDefaultColumns = 12;
    static constexpr int32_t kDefaultRows = 8;
    // The block string has no defined form beyond 255 digits: a device that
    // reports a larger grid keeps the default one, as does one that reports
    // a negative size. This also bounds what a device's answer can make the
    // editor allocate.
    static constexpr int32_t kMaxCells = 1020;
    // Popup menu identifiers.
    static constexpr UINT kCmdClearAll = 33001;
    static constexpr UINT kCmdSelectAll = 33002;
    static constexpr UINT kCmdRestore = 33003;
    static constexpr UINT kCmdSave = 33006;
    static constexpr COLORREF kOnColour = RGB(255, 0, 0);
    static constexpr COLORREF kDragColour = RGB(80, 255, 80);
    static constexpr COLORREF kHoverColour = RGB(254, 254, 254);
    static constexpr COLORREF kEraseColour = RGB(80, 80, 255);
    static constexpr const char* kGridKey = "motionblock";

    // The construction arguments of every overlay control. Asks the device
    // for its grid ("paratest=motionxblock", "paratest=motionyblock"; both
    // must be non-zero to replace 12 x 8) and its cells (kGridKey, with
    // "=channel" for a channel above 0).
    CMotionBlockEditor(CDeviceProfile* dialect, CHttpLink* link, const char* deviceAddress,
                       const int32_t* clientSize, const int32_t* videoRect, HWND window, HDC backBufferDc,
                       int32_t channel);
    ~CMotionBlockEditor() override;

    // Hook 1: no hover cell, no drag.
    int OnMouseLeave() override;
    int OnMouseMove(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    int OnButtonDown(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    int OnButtonUp(int32_t x, int32_t y, int32_t keys, int32_t extra) override;
    void OnCommand(int32_t id) override;
    void Paint() override;
    int Save(int showMessage) override;

    // The grid as the device keeps it: count / 4 upper-case digits.
    std::string BlockString();
    // Reads a device's block string into the cells (and the saved copy):
    // upper-cased, at most count / 4 characters, a character that is not a
    // hexadecimal digit switching all four of its cells on.
    void DecodeBlockString(const std::string& text);
    // The cell under a client point; 0 when the window's cells have no size
    // or the point lies beyond the grid.
    int32_t CellAt(int32_t x, int32_t y);

    int32_t Columns();
    int32_t Rows();
    std::vector<uint8_t> Cells();
    std::vector<uint8_t> SavedCells();
    std::vector<uint8_t> PendingCells();
    // The key of the query, and of the set (with ":" for a channel).
    std::string QueryKey() const;
    std::string SetKey() const;

private:
    void MarkRange(int32_t a, int32_t b, uint8_t value);
    void DrawCell(int32_t index);
    void ClampPoint(int32_t* x, int32_t* y) const;

    // --- Members, in this order (all guarded by mLock). ---
    std::vector<uint8_t> mCells;
    std::vector<uint8_t> mPending;
    std::vector<uint8_t> mSaved;
    int32_t mColumns = kDefaultColumns;
    int32_t mRows = kDefaultRows;
    int32_t mCount = kDefaultColumns * kDefaultRows;
    int32_t mDragging = 0;
    int32_t mHover = 0;
    const char* mDigits = "0123456789ABCDEF";
    HPEN m_hOnPen = nullptr;
    HPEN m_hDragPen = nullptr;
    HPEN m_hHoverPen = nullptr;
    HPEN m_hErasePen = nullptr;
    int32_t mStartCell = 0;
    int32_t mCurrentCell = 0;
    // Cell sizes in tenths of a pixel: in the video, and in the window.
    int32_t mVideoCellWidth = 0;
    int32_t mVideoCellHeight = 0;
    int32_t mErase = 0;
    int32_t mWindowCellWidth = 0;
    int32_t mWindowCellHeight = 0;
    media_util::CCritSection mLock;
};
