// controls/tip_list_ctrl.h
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <map>
#include <string>

#include "framework/wnd.h"

// A list view whose items show tool tips of their own, per item and column.
// A text is kept under the item's data value, not its position, so items may
// move and be deleted; the owner gives every item a distinct data value.
class CTipListCtrl : public CWnd {
public:
    // The list hit-test flags (LVHT_*) over which a tip shows; returns the
    // previous mask.
    WORD SetToolTipHitMask(WORD mask);
    // Stores text as the tip of column (0 to 99) of item, replacing an earlier one.
    virtual bool SetItemToolTipText(int item, int column, const std::string& text);
    // Deletes the item and, when that succeeded, every tip text of its data value.
    virtual bool DeleteItem(int item);

    // The new item's index, or -1.
    int InsertItem(int index, const std::string& label, int image);
    bool SetItemData(int item, LPARAM data);
    LPARAM GetItemData(int item) const;
    int GetItemCount() const;
    int GetSelectedCount() const;
    // The first selected item, or -1.
    int GetFirstSelected() const;
    HIMAGELIST SetImageList(HIMAGELIST list, int which);
    void SetRedraw(bool redraw) const;

protected:
    bool OnNotify(int id, NMHDR* header, LRESULT* result) override;
    INT_PTR OnToolHitTest(POINT point, TOOLINFOA* info) const override;
    // TTN_NEEDTEXTA and TTN_NEEDTEXTW: answered from the stored texts, but
    // reported as not handled so that the list's own processing sees them too.
    virtual bool OnToolTipText(NMHDR* header, LRESULT* result);

private:
    static std::string TipKey(int column, LPARAM data);

    std::map<std::string, std::string> m_tipTexts;
    WORD m_wTipHitMask = LVHT_ONITEMLABEL;
};

// The length of the longest start of text that has at most maxBytes bytes and
// ends on a character boundary of the ANSI code page.
std::size_t AnsiPrefixLength(const std::string& text, std::size_t maxBytes);
