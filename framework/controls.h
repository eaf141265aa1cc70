// Wrappers for the standard controls the program binds: each method is one message to the
// control's handle; the objects own nothing.
#pragma once

#include "wnd.h"

#include <commctrl.h>

class CEdit : public CWnd {
public:
    // Empties the control without leaving its old text behind in the control's memory: an
    // edit control emptied at once only writes a terminator at the start of its buffer, and
    // the rest of the old text stays there. Overwriting the text with as many filler
    // characters first replaces every character in place.
    void EraseText() const;
};

class CSliderCtrl : public CWnd {
public:
    void SetRange(int minimum, int maximum, bool redraw = false) const
    {
        SendMessage(TBM_SETRANGEMIN, FALSE, minimum);
        SendMessage(TBM_SETRANGEMAX, redraw ? TRUE : FALSE, maximum);
    }
    void SetPos(int position) const { SendMessage(TBM_SETPOS, TRUE, position); }
    int GetPos() const { return static_cast<int>(SendMessage(TBM_GETPOS)); }
};
