// controls/tip_list_ctrl.cpp
#include "controls/tip_list_ctrl.h"

#include <cstring>

namespace {
// The tool-tip notifications carry an 80-character buffer; a tip text keeps
// room for the terminator.
constexpr std::size_t kTipChars = 79;
// Tool ids and keys put the column in the last two decimal places.
constexpr int kColumnsPerItem = 100;
}  // namespace

std::size_t AnsiPrefixLength(const std::string& text, std::size_t maxBytes)
{
    std::size_t length = 0;
    while (length < text.size()) {
        const bool pair =
            IsDBCSLeadByte(static_cast<BYTE>(text[length])) && length + 1 < text.size();
        const std::size_t next = length + (pair ? 2 : 1);
        if (next > maxBytes)
            break;
        length = next;
    }
    return length;
}

std::string CTipListCtrl::TipKey(int column, LPARAM data)
{
    return std::to_string(static_cast<long long>(column) +
                          kColumnsPerItem * static_cast<long long>(data));
}

WORD CTipListCtrl::SetToolTipHitMask(WORD mask)
{
    const WORD previous = m_wTipHitMask;
    m_wTipHitMask = mask;
    return previous;
}

bool CTipListCtrl::SetItemToolTipText(int item, int column, const std::string& text)
{
    m_tipTexts[TipKey(column, GetItemData(item))] = text;
    return true;
}

bool CTipListCtrl::DeleteItem(int item)
{
    // Read first: the data value goes with the item.
    const LPARAM data = GetItemData(item);
    if (!SendMessage(LVM_DELETEITEM, static_cast<WPARAM>(item)))
        return false;
    for (int column = 0; column < kColumnsPerItem; ++column)
        m_tipTexts.erase(TipKey(column, data));
    return true;
}

int CTipListCtrl::InsertItem(int index, const std::string& label, int image)
{
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.pszText = const_cast<char*>(label.c_str());
    item.iImage = image;
    return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

bool CTipListCtrl::SetItemData(int item, LPARAM data)
{
    LVITEMA entry = {};
    entry.mask = LVIF_PARAM;
    entry.iItem = item;
    entry.lParam = data;
    return SendMessage(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&entry)) != FALSE;
}

LPARAM CTipListCtrl::GetItemData(int item) const
{
    LVITEMA entry = {};
    entry.mask = LVIF_PARAM;
    entry.iItem = item;
    SendMessage(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&entry));
    return entry.lParam;
}

int CTipListCtrl::GetItemCount() const
{
    return static_cast<int>(SendMessage(LVM_GETITEMCOUNT));
}

int CTipListCtrl::GetSelectedCount() const
{
    return static_cast<int>(SendMessage(LVM_GETSELECTEDCOUNT));
}

int CTipListCtrl::GetFirstSelected() const
{
    return static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

HIMAGELIST CTipListCtrl::SetImageList(HIMAGELIST list, int which)
{
    return reinterpret_cast<HIMAGELIST>(
        SendMessage(LVM_SETIMAGELIST, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(list)));
}

void CTipListCtrl::SetRedraw(bool redraw) const
{
    SendMessage(WM_SETREDRAW, redraw ? TRUE : FALSE);
}

INT_PTR CTipListCtrl::OnToolHitTest(POINT point, TOOLINFOA* info) const
{
    LVHITTESTINFO hit = {};
    hit.pt = point;
    SendMessage(LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (!(hit.flags & m_wTipHitMask))
        return -1;
    // One tool per item and column over the whole list: moving to another
    // item changes the tool, and the control then starts over with its tip.
    const INT_PTR id = hit.iSubItem + kColumnsPerItem * static_cast<INT_PTR>(hit.iItem);
    info->hwnd = GetSafeHwnd();
    info->uId = static_cast<UINT_PTR>(id);
    GetClientRect(GetSafeHwnd(), &info->rect);
    info->lpszText = LPSTR_TEXTCALLBACKA;
    return id;
}

bool CTipListCtrl::OnNotify(int id, NMHDR* header, LRESULT* result)
{
    if (header->code == TTN_NEEDTEXTA || header->code == TTN_NEEDTEXTW)
        return OnToolTipText(header, result);
    return CWnd::OnNotify(id, header, result);
}

bool CTipListCtrl::OnToolTipText(NMHDR* header, LRESULT* result)
{
    const bool wide = header->code == TTN_NEEDTEXTW;
    auto* ansiText = reinterpret_cast<NMTTDISPINFOA*>(header);
    auto* wideText = reinterpret_cast<NMTTDISPINFOW*>(header);
    // The list's own tips (of truncated labels) name the list window as
    // their tool: those are the list's to answer.
    const UINT flags = wide ? wideText->uFlags : ansiText->uFlags;
    if (header->idFrom == reinterpret_cast<UINT_PTR>(GetSafeHwnd()) && (flags & TTF_IDISHWND))
        return false;
    *result = 0;

    const DWORD position = GetMessagePos();
    LVHITTESTINFO hit = {};
    hit.pt.x = static_cast<short>(LOWORD(position));
    hit.pt.y = static_cast<short>(HIWORD(position));
    ScreenToClient(GetSafeHwnd(), &hit.pt);
    SendMessage(LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (!(hit.flags & m_wTipHitMask))
        return false;
    const auto found = m_tipTexts.find(TipKey(hit.iSubItem, GetItemData(hit.iItem)));
    if (found == m_tipTexts.end())
        return false;

    // Cut between characters, never inside one, and the same for both forms.
    const std::string& text = found->second;
    const int length = static_cast<int>(AnsiPrefixLength(text, kTipChars));
    if (wide) {
        const int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), length, wideText->szText,
                                              static_cast<int>(kTipChars));
        wideText->szText[chars > 0 ? chars : 0] = L'\0';
        wideText->lpszText = wideText->szText;
    } else {
        std::memcpy(ansiText->szText, text.data(), static_cast<std::size_t>(length));
        ansiText->szText[length] = '\0';
        ansiText->lpszText = ansiText->szText;
    }
    return false;
}
