// CTypingDlg: the main window. Owns the key clock, both timing tables and the icon; clears,
// shows and scores the two entries; reacts to the "Clear" buttons, the threshold slider and
// the system menu.
#pragma once

#include "controls.h"
#include "dialog.h"
#include "label.h"
#include "password_edit.h"
#include "timing.h"
#include "timing_grid.h"

#include <array>

class CTypingDlg : public CDialog, public PasswordFieldOwner {
public:
    // Key events are timed with `ticks` (the performance counter unless a test drives it).
    explicit CTypingDlg(CWnd* parent = nullptr);
    CTypingDlg(const typrova::TickSource& ticks, CWnd* parent);
    ~CTypingDlg() override;

    // Called by the password fields for every key press and release they process.
    void stampClock() override;
    // Called by the password fields after the stamp of a key release.
    void onEnteredKeyUp() override;
    void onReenteredKeyUp() override;

    void showEnteredTable();
    void showReenteredTable();
    // Empties one field and its table, then re-evaluates. The clock is not touched.
    void clearEntered();
    void clearReentered();
    // Recomputes the score and the verdict from both texts and the slider position.
    void refreshResult();

    const MessageMap* GetMessageMap() const override;

protected:
    void DoDataExchange(CDataExchange& exchange) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnCustomDrawThreshold(NMHDR* header, LRESULT* result);

private:
    // One entry's value labels, by key position (index 0, and interval 1, unused).
    struct GridLabels {
        std::array<CLabel, typrova::kSlotCount> intervals;
        std::array<CLabel, typrova::kSlotCount> pressed;
    };

    void onKeyUp(const CEdit& field, typrova::TimingSlots& slots, GridLabels& labels);
    // Writes the pressed value and, from key 2 on, the interval of one key position.
    void showSlot(const typrova::TimingSlots& slots, GridLabels& labels, std::size_t key);
    void showTable(const typrova::TimingSlots& slots, GridLabels& labels);
    // New label texts are drawn when the window's queue is empty: the next key comes first.
    void labelsChanged();
    void paintLabels();

    CReenteredEdit m_reentered;
    CEnteredEdit m_entered;
    CSliderCtrl m_threshold;
    typrova::TimingState m_clock;
    typrova::TimingSlots m_enteredSlots;
    typrova::TimingSlots m_reenteredSlots;
    HICON m_hIcon;
    const typrova::TickSource& m_ticks;
    GridLabels m_enteredLabels;
    GridLabels m_reenteredLabels;
    CLabel m_verdict;
    CLabel m_score;
    bool m_labelPaintAsked = false; // an invalidation waits for the queue to empty
};
