// CTypingDlg: the main window. Owns the key clock, both timing tables and the icon; clears,
// shows and scores the two entries; reacts to the "Clear" buttons, the threshold slider and
// the system menu.
#pragma once

#include "controls.h"
#include "dialog.h"
#include "password_edit.h"
#include "timing.h"
#include "timing_grid.h"

class CTypingDlg : public CDialog {
public:
    // Key events are timed with `ticks` (the performance counter unless a test drives it).
    explicit CTypingDlg(CWnd* parent = nullptr);
    CTypingDlg(const typrova::TickSource& ticks, CWnd* parent);
    ~CTypingDlg() override;

    // Called by the password fields for every key press and release they process.
    void stampClock();
    // Called by the password fields after the stamp of a key release.
    void onEnteredKeyUp();
    void onReenteredKeyUp();

    void showEnteredTable() const;
    void showReenteredTable() const;
    // Empties one field and its table, then re-evaluates. The clock is not touched.
    void clearEntered();
    void clearReentered();
    // Recomputes the score and the verdict from both texts and the slider position.
    void refreshResult();

    const MessageMap* GetMessageMap() const override { return messageMap(); }
    static const MessageMap* messageMap();

protected:
    void DoDataExchange(CDataExchange& exchange) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnCustomDrawThreshold(NMHDR* header, LRESULT* result);

private:
    void onKeyUp(const CEdit& field, typrova::TimingSlots& slots, const TimingGridIds& grid);

    CReenteredEdit m_reentered;
    CEnteredEdit m_entered;
    CSliderCtrl m_threshold;
    typrova::TimingState m_clock;
    typrova::TimingSlots m_enteredSlots;
    typrova::TimingSlots m_reenteredSlots;
    HICON m_hIcon;
    const typrova::TickSource& m_ticks;
    typrova::Evaluation m_shown; // the texts the result box shows (empty before the first)
};
