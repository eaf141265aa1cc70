// CLabel: a static text control whose text can change without drawing it at that moment. The
// new text is kept in memory and written into the control (which draws it at once) by
// Flush(); a label whose text is read before that writes it first, so every reader, in this
// process or another, sees the current text.
#pragma once

#include "wnd.h"

#include <string>
#include <string_view>

class CLabel : public CWnd {
public:
    // Keeps `text` for the next Flush(). Returns false, keeping nothing, when the label already
    // shows that text or is about to.
    bool SetTextLater(std::string_view text);
    // Writes a kept text into the control.
    void Flush();
    bool IsPending() const { return m_pending; }

    const MessageMap* GetMessageMap() const override;

private:
    // WM_GETTEXT, WM_GETTEXTLENGTH: the kept text goes in first, then the control answers.
    void OnGetText();

    std::string m_text;   // shown, or to be shown at the next Flush()
    bool m_known = false; // whether m_text is what the control holds or will hold
    bool m_pending = false;
};
