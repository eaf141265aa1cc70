// CLabel: texts kept in memory until the label is flushed or read.
#include "label.h"

bool CLabel::SetTextLater(std::string_view text)
{
    if (m_known && text == m_text)
        return false;
    m_text.assign(text);
    m_known = true;
    m_pending = true;
    return true;
}

void CLabel::Flush()
{
    if (!m_pending || !m_hWnd)
        return;
    m_pending = false;
    SetWindowText(m_text); // a static control draws its new text as it takes it
}

void CLabel::OnGetText()
{
    Flush();
    Default();
}

const MessageMap* CLabel::GetMessageMap() const
{
    static constexpr MessageEntry entries[] = {
        handle<&CLabel::OnGetText>(onMessage(WM_GETTEXT)),
        handle<&CLabel::OnGetText>(onMessage(WM_GETTEXTLENGTH)),
    };
    static constexpr MessageMap map = makeMessageMap(nullptr, entries);
    return &map;
}
