#include "editors/CMotionBlockEditor.h"

#include "platform/CLockWrap.h"
#include "platform/Trace.h"

#include <algorithm>
#include <cctype>

using media_util::CLockWrap;

CMotionBlockEditor::CMotionBlockEditor(CDeviceProfile* dialect, CHttpLink* link, const char* deviceAddress,
                                       const int32_t* clientSize, const int32_t* videoRect, HWND window,
                                       HDC backBufferDc, int32_t channel)
    : COverlayControl(dialect, link, deviceAddress, clientSize, videoRect, window, backBufferDc, channel) {
    CExchangeBudget budget(mpLink);
    const int32_t columns = QueryLong("paratest=motionxblock");
    const int32_t rows = QueryLong("paratest=motionyblock");
    const int64_t cells = static_cast<int64_t>(columns) * rows;
    if (columns > 0 && rows > 0 && cells <= kMaxCells) {
        mColumns = columns;
        mRows = rows;
    }
    mCount = mColumns * mRows;
    mCells.assign(static_cast<size_t>(mCount), 0);
    mPending.assign(static_cast<size_t>(mCount), 0);
    mSaved.assign(static_cast<size_t>(mCount), 0);
    std::string value;
    if (QueryParam(QueryKey(), value) != 0)
        DecodeBlockString(value);

    mVideoCellWidth = mVideoWidth * 10 / mColumns;
    mVideoCellHeight = mVideoHeight * 10 / mRows;
    mWindowCellWidth = mClientWidth * 10 / mColumns;
    mWindowCellHeight = mClientHeight * 10 / mRows;
    m_hOnPen = CreatePen(PS_SOLID, ThickPenWidth(), kOnColour);
    const int thin = ThinPenWidth();
    m_hDragPen = CreatePen(PS_SOLID, thin, kDragColour);
    m_hHoverPen = CreatePen(PS_SOLID, thin, kHoverColour);
    m_hErasePen = CreatePen(PS_SOLID, thin, kEraseColour);
}

CMotionBlockEditor::~CMotionBlockEditor() {
    DeleteObject(m_hOnPen);
    DeleteObject(m_hDragPen);
    DeleteObject(m_hHoverPen);
    DeleteObject(m_hErasePen);
}

std::string CMotionBlockEditor::QueryKey() const {
    return mChannel > 0 ? std::string(kGridKey) + "=" + std::to_string(mChannel) : kGridKey;
}

std::string CMotionBlockEditor::SetKey() const {
    return mChannel > 0 ? QueryKey() + ":" : QueryKey();
}

void CMotionBlockEditor::DecodeBlockString(const std::string& text) {
    CLockWrap lock(mLock);
    std::fill(mCells.begin(), mCells.end(), 0);
    std::fill(mPending.begin(), mPending.end(), 0);
    const size_t digits = std::min(static_cast<size_t>(mCount / 4), text.size());
    for (size_t i = 0; i < digits; ++i) {
        const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
        int value = -1; // not a digit: all four cells on
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        for (int bit = 0; bit < 4; ++bit)
            if ((value & (1 << bit)) != 0)
                mCells[4 * i + static_cast<size_t>(bit)] = 1;
    }
    mSaved = mCells;
}

std::string CMotionBlockEditor::BlockString() {
    CLockWrap lock(mLock);
    std::string text;
    for (int32_t k = 0; k < mCount / 4; ++k) {
        int value = 0;
        for (int bit = 0; bit < 4; ++bit)
            value |= mCells[static_cast<size_t>(4 * k + bit)] != 0 ? 1 << bit : 0;
        text.push_back(mDigits[value]);
    }
    return text;
}

int32_t CMotionBlockEditor::CellAt(int32_t x, int32_t y) {
    CLockWrap lock(mLock);
    if (mWindowCellWidth == 0 || mWindowCellHeight == 0)
        return 0;
    const int32_t cell = (y * 10 / mWindowCellHeight) * mColumns + (x * 10 / mWindowCellWidth);
    return cell >= 0 && cell < mCount ? cell : 0;
}

void CMotionBlockEditor::MarkRange(int32_t a, int32_t b, uint8_t value) {
    std::fill(mPending.begin(), mPending.end(), 0);
    const int32_t firstColumn = std::min(a % mColumns, b % mColumns);
    const int32_t lastColumn = std::max(a % mColumns, b % mColumns);
    const int32_t firstRow = std::min(a / mColumns, b / mColumns);
    const int32_t lastRow = std::max(a / mColumns, b / mColumns);
    for (int32_t row = firstRow; row <= lastRow; ++row)
        for (int32_t column = firstColumn; column <= lastColumn; ++column)
            mPending[static_cast<size_t>(row * mColumns + column)] = value;
}

void CMotionBlockEditor::ClampPoint(int32_t* x, int32_t* y) const {
    *x = std::max(0, std::min(*x, mClientWidth - 1));
    *y = std::max(0, std::min(*y, mClientHeight - 1));
}

int CMotionBlockEditor::OnMouseLeave() {
    CLockWrap lock(mLock);
    mHover = 0;
    mDragging = 0;
    mStartCell = 0;
    mCurrentCell = 0;
    std::fill(mPending.begin(), mPending.end(), 0);
    return 1;
}

int CMotionBlockEditor::OnMouseMove(int32_t x, int32_t y, int32_t, int32_t extra) {
    CLockWrap lock(mLock);
    media_util::Trace("+++ mouse move %d %d\n", x, y);
    media_util::Trace("--- mouse move %d %d\n", x, y);
    ClampPoint(&x, &y);
    mHover = 1;
    mErase = extra & 1;
    const int32_t cell = CellAt(x, y);
    if (cell != mCurrentCell) {
        mCurrentCell = cell;
        if (mDragging != 0)
            MarkRange(cell, mStartCell, 1);
    }
    return 1;
}

int CMotionBlockEditor::OnButtonDown(int32_t x, int32_t y, int32_t, int32_t extra) {
    CLockWrap lock(mLock);
    ClampPoint(&x, &y);
    mDragging = 1;
    mStartCell = CellAt(x, y);
    mErase = extra & 1;
    return 1;
}

int CMotionBlockEditor::OnButtonUp(int32_t x, int32_t y, int32_t keys, int32_t extra) {
    CLockWrap lock(mLock);
    ClampPoint(&x, &y);
    if ((keys & kRightButton) != 0) {
        TrackMenu({{kCmdSelectAll, "Select &all "},
                   {kCmdClearAll, "&Clear all "},
                   {kCmdRestore, "Res&tore "},
                   {0, ""},
                   {kCmdSave, "&Save setting"}},
                  x, y);
        mDragging = 0;
        return 1;
    }
    mErase = extra & 1;
    const int32_t cell = CellAt(x, y);
    mCurrentCell = cell;
    if (cell != mStartCell) {
        // A drag: the cells it covered, as the last move marked them.
        for (size_t i = 0; i < mPending.size(); ++i)
            if (mPending[i] != 0)
                mCells[i] = mErase != 0 ? 0 : 1;
        mStartCell = cell;
    } else if (mErase != 0) {
        mCells[static_cast<size_t>(cell)] = 0;
    } else {
        mCells[static_cast<size_t>(cell)] ^= 1;
    }
    std::fill(mPending.begin(), mPending.end(), 0);
    mDragging = 0;
    return 1;
}

void CMotionBlockEditor::OnCommand(int32_t id) {
    CLockWrap lock(mLock);
    switch (id) {
    case kCmdClearAll:
        std::fill(mCells.begin(), mCells.end(), 0);
        break;
    case kCmdSelectAll:
        std::fill(mCells.begin(), mCells.end(), 1);
        break;
    case kCmdRestore:
        mCells = mSaved;
        break;
    case kCmdSave:
        Save(1);
        break;
    default:
        break;
    }
}

void CMotionBlockEditor::DrawCell(int32_t index) {
    const int32_t column = index % mColumns;
    const int32_t row = index / mColumns;
    const int32_t left = column * mVideoCellWidth / 10 + mVideoLeft;
    const int32_t top = row * mVideoCellHeight / 10 + mVideoTop;
    const int32_t right = left + mVideoCellWidth / 10;
    const int32_t bottom = top + mVideoCellHeight / 10;
    SetBkMode(m_hBackDC, TRANSPARENT);
    MoveToEx(m_hBackDC, left, top, nullptr);
    LineTo(m_hBackDC, right, top);
    LineTo(m_hBackDC, right, bottom);
    LineTo(m_hBackDC, left, bottom);
    LineTo(m_hBackDC, left, top);
    LineTo(m_hBackDC, right, bottom);
}

void CMotionBlockEditor::Paint() {
    CLockWrap lock(mLock);
    if (m_hBackDC == nullptr)
        return;
    ClearVideo();
    SelectObject(m_hBackDC, m_hOnPen);
    for (int32_t i = 0; i < mCount; ++i)
        if (mCells[static_cast<size_t>(i)] != 0)
            DrawCell(i);
    if (mHover == 0)
        return;
    SelectObject(m_hBackDC, mErase != 0 ? m_hErasePen : m_hHoverPen);
    DrawCell(mCurrentCell);
    if (mDragging == 0)
        return;
    SelectObject(m_hBackDC, mErase != 0 ? m_hErasePen : m_hDragPen);
    for (int32_t i = 0; i < mCount; ++i)
        if (mPending[static_cast<size_t>(i)] != 0)
            DrawCell(i);
}

int CMotionBlockEditor::Save(int showMessage) {
    CLockWrap lock(mLock);
    mSaved = mCells;
    if (mpProfile == nullptr || mpLink == nullptr)
        return 0;
    CExchangeBudget budget(mpLink);
    const bool saved = SetParam(SetKey(), BlockString()) != 0;
    return EndSave(saved, showMessage);
}

int32_t CMotionBlockEditor::Columns() {
    return Locked(mLock, mColumns);
}
int32_t CMotionBlockEditor::Rows() {
    return Locked(mLock, mRows);
}
std::vector<uint8_t> CMotionBlockEditor::Cells() {
    CLockWrap lock(mLock);
    return mCells;
}
std::vector<uint8_t> CMotionBlockEditor::SavedCells() {
    CLockWrap lock(mLock);
    return mSaved;
}
std::vector<uint8_t> CMotionBlockEditor::PendingCells() {
    CLockWrap lock(mLock);
    return mPending;
}
