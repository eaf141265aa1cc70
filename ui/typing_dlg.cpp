// The main window's routines: opening, the key-release routines, the table rewrite, the result
// box, the "Clear" buttons, the threshold label, the About item and the minimised icon.
#include "typing_dlg.h"

#include "about_dlg.h"
#include "app.h"
#include "gdi.h"
#include "perf_counter.h"
#include "resource.h"
#include "timing_grid.h"

#include <string>

static_assert((IDM_ABOUTBOX & 0xFFF0) == IDM_ABOUTBOX && IDM_ABOUTBOX < 0xF000,
              "the About command must leave the low four bits free and stay below SC_*");

namespace {

const PerformanceCounter& performanceCounter()
{
    static const PerformanceCounter counter;
    return counter;
}

// A pixel of the client area that no control covers: invalidating it (without erasing) asks
// for a WM_PAINT, which comes only once no other message waits, and draws nothing itself.
constexpr RECT kIdlePixel{0, 0, 1, 1};

// Longest field text whose length in bytes is read exactly; anything longer files nothing.
constexpr std::size_t kLengthProbe = 2 * typrova::kMaxKeys + 2;

void bindGrid(CDataExchange& exchange, const TimingGridIds& ids,
              std::array<CLabel, typrova::kSlotCount>& intervals,
              std::array<CLabel, typrova::kSlotCount>& pressed)
{
    for (std::size_t key = 1; key <= typrova::kMaxKeys; ++key) {
        DDX_Control(exchange, ids.pressed[key], pressed[key]);
        if (key >= 2)
            DDX_Control(exchange, ids.intervals[key], intervals[key]);
    }
}

std::string loadString(UINT id)
{
    char text[256];
    const int length = LoadStringA(AfxGetInstanceHandle(), id, text, sizeof text);
    return std::string(text, static_cast<std::size_t>(length > 0 ? length : 0));
}

} // namespace

CTypingDlg::CTypingDlg(CWnd* parent) : CTypingDlg(performanceCounter(), parent) {}

CTypingDlg::CTypingDlg(const typrova::TickSource& ticks, CWnd* parent)
    : CDialog(IDD_TYPROVA_DIALOG, parent), m_ticks(ticks)
{
    const CWinApp* app = AfxGetApp();
    m_hIcon = app ? app->LoadIcon(IDR_MAINFRAME) : LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CTypingDlg::~CTypingDlg() = default; // the icon is a shared resource icon: not destroyed

const MessageMap* CTypingDlg::GetMessageMap() const
{
    static constexpr MessageEntry entries[] = {
        handle<&CTypingDlg::OnSysCommand, SysCommandParams>(onMessage(WM_SYSCOMMAND)),
        handle<&CTypingDlg::OnPaint>(onMessage(WM_PAINT)),
        handle<&CTypingDlg::OnQueryDragIcon>(onMessage(WM_QUERYDRAGICON)),
        handle<&CTypingDlg::clearEntered>(onClicked(IDC_CLEAR_ENTERED)),
        handle<&CTypingDlg::clearReentered>(onClicked(IDC_CLEAR_REENTERED)),
        handle<&CTypingDlg::OnCustomDrawThreshold, NotifyParams>(onNotify(NM_CUSTOMDRAW, IDC_THRESHOLD)),
    };
    static const MessageMap map = makeMessageMap(CDialog::GetMessageMap(), entries);
    return &map;
}

void CTypingDlg::DoDataExchange(CDataExchange& exchange)
{
    DDX_Control(exchange, IDC_REENTERED, m_reentered);
    DDX_Control(exchange, IDC_ENTERED, m_entered);
    DDX_Control(exchange, IDC_THRESHOLD, m_threshold);
    // The value labels and the result box, so that writing them needs no lookup.
    bindGrid(exchange, kEnteredGrid, m_enteredLabels.intervals, m_enteredLabels.pressed);
    bindGrid(exchange, kReenteredGrid, m_reenteredLabels.intervals, m_reenteredLabels.pressed);
    DDX_Control(exchange, IDC_VERDICT, m_verdict);
    DDX_Control(exchange, IDC_SCORE, m_score);
}

BOOL CTypingDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    if (CMenu systemMenu = GetSystemMenu(false)) {
        const std::string about = loadString(IDS_ABOUTBOX);
        if (!about.empty()) {
            systemMenu.AppendMenu(MF_SEPARATOR);
            systemMenu.AppendMenu(MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }

    SetIcon(m_hIcon, true);
    SetIcon(m_hIcon, false);

    clearEntered();
    clearReentered();
    paintLabels(); // the window is not shown yet: the labels take their texts without drawing

    m_threshold.SetRange(0, 10000, false);
    m_threshold.SetPos(5000);

    m_clock.start(m_ticks.frequency(), m_ticks.now());
    return TRUE; // the Entered field, the first tab stop, takes the focus
}

void CTypingDlg::stampClock()
{
    m_clock.stamp(m_ticks.now());
}

void CTypingDlg::onEnteredKeyUp()
{
    onKeyUp(m_entered, m_enteredSlots, m_enteredLabels);
}

void CTypingDlg::onReenteredKeyUp()
{
    onKeyUp(m_reentered, m_reenteredSlots, m_reenteredLabels);
}

// Files the clock's gaps under the field's current text length (in bytes). Only a release that
// stored something updates the table and re-evaluates. A release changes one key position, so
// only that position's labels get new texts.
void CTypingDlg::onKeyUp(const CEdit& field, typrova::TimingSlots& slots, GridLabels& labels)
{
    const std::size_t key = SecretText(field.GetSafeHwnd(), kLengthProbe).size();
    if (!m_clock.recordRelease(slots, key))
        return;
    showSlot(slots, labels, key);
    refreshResult();
}

void CTypingDlg::showSlot(const typrova::TimingSlots& slots, GridLabels& labels, std::size_t key)
{
    labels.pressed[key].SetTextLater(typrova::formatNumber(slots.pressed[key]));
    if (key >= 2)
        labels.intervals[key].SetTextLater(typrova::formatNumber(slots.intervals[key]));
    labelsChanged();
}

void CTypingDlg::showTable(const typrova::TimingSlots& slots, GridLabels& labels)
{
    for (std::size_t key = 1; key <= typrova::kMaxKeys; ++key)
        showSlot(slots, labels, key);
}

void CTypingDlg::showEnteredTable()
{
    showTable(m_enteredSlots, m_enteredLabels);
}

void CTypingDlg::showReenteredTable()
{
    showTable(m_reenteredSlots, m_reenteredLabels);
}

void CTypingDlg::labelsChanged()
{
    if (m_labelPaintAsked || !m_hWnd)
        return;
    m_labelPaintAsked = InvalidateRect(m_hWnd, &kIdlePixel, FALSE) != FALSE;
}

void CTypingDlg::paintLabels()
{
    m_labelPaintAsked = false;
    for (GridLabels* grid : {&m_enteredLabels, &m_reenteredLabels})
        for (std::size_t key = 1; key <= typrova::kMaxKeys; ++key) {
            grid->pressed[key].Flush();
            grid->intervals[key].Flush();
        }
    m_verdict.Flush();
    m_score.Flush();
}

void CTypingDlg::clearEntered()
{
    m_entered.EraseText();
    typrova::clear(m_enteredSlots);
    showEnteredTable();
    refreshResult();
}

void CTypingDlg::clearReentered()
{
    m_reentered.EraseText();
    typrova::clear(m_reenteredSlots);
    showReenteredTable();
    refreshResult();
}

void CTypingDlg::refreshResult()
{
    const SecretText entered = m_entered.GetSecretText();
    const SecretText reentered = m_reentered.GetSecretText();
    const typrova::Evaluation result = typrova::evaluate(
        entered.view(), reentered.view(), m_enteredSlots, m_reenteredSlots, m_threshold.GetPos());
    m_verdict.SetTextLater(result.verdict);
    m_score.SetTextLater(result.score);
    labelsChanged();
}

// The threshold label follows the slider each time it draws; the verdict does not. The answer
// goes back through DWLP_MSGRESULT (dialogProcResult), never as the procedure's return value.
// https://learn.microsoft.com/windows/win32/controls/nm-customdraw-trackbar
void CTypingDlg::OnCustomDrawThreshold(NMHDR*, LRESULT* result)
{
    SetDlgItemText(IDC_THRESHOLD_VALUE, typrova::thresholdText(m_threshold.GetPos()));
    *result = 0; // CDRF_DODEFAULT
}

void CTypingDlg::OnSysCommand(UINT id, LPARAM)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        Default();
    }
}

// Label texts changed since the last paint are drawn first. A minimised dialog paints its own
// icon, centred in the client area.
void CTypingDlg::OnPaint()
{
    paintLabels();
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    const RECT client = GetClientRect();
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

// Returned as the dialog procedure's own value, one of the few messages that do so.
// https://learn.microsoft.com/windows/win32/winmsg/wm-querydragicon
HCURSOR CTypingDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}
