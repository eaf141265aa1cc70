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
#include <utility>

static_assert((IDM_ABOUTBOX & 0xFFF0) == IDM_ABOUTBOX && IDM_ABOUTBOX < 0xF000,
              "the About command must leave the low four bits free and stay below SC_*");

namespace {

const PerformanceCounter& performanceCounter()
{
    static const PerformanceCounter counter;
    return counter;
}

// Writes the pressed value and, from key 2 on, the interval of one key position.
void showSlot(const CWnd& dialog, const typrova::TimingSlots& slots, const TimingGridIds& grid,
              std::size_t key)
{
    dialog.SetDlgItemText(grid.pressed[key], typrova::formatNumber(slots.pressed[key]));
    if (key >= 2)
        dialog.SetDlgItemText(grid.intervals[key], typrova::formatNumber(slots.intervals[key]));
}

// Writes one entry's 15 pressed and 14 interval values into its labels.
void showTable(const CWnd& dialog, const typrova::TimingSlots& slots, const TimingGridIds& grid)
{
    for (std::size_t key = 1; key <= typrova::kMaxKeys; ++key)
        showSlot(dialog, slots, grid, key);
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

const MessageMap* CTypingDlg::messageMap()
{
    static constexpr MessageEntry entries[] = {
        onSysCommand<&CTypingDlg::OnSysCommand>(),
        onPaint<&CTypingDlg::OnPaint>(),
        onQueryDragIcon<&CTypingDlg::OnQueryDragIcon>(),
        onClicked<&CTypingDlg::clearEntered>(IDC_CLEAR_ENTERED),
        onClicked<&CTypingDlg::clearReentered>(IDC_CLEAR_REENTERED),
        onNotify<&CTypingDlg::OnCustomDrawThreshold>(NM_CUSTOMDRAW, IDC_THRESHOLD),
    };
    static const MessageMap map = makeMessageMap(CDialog::messageMap(), entries);
    return &map;
}

void CTypingDlg::DoDataExchange(CDataExchange& exchange)
{
    DDX_Control(exchange, IDC_REENTERED, m_reentered);
    DDX_Control(exchange, IDC_ENTERED, m_entered);
    DDX_Control(exchange, IDC_THRESHOLD, m_threshold);
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
    onKeyUp(m_entered, m_enteredSlots, kEnteredGrid);
}

void CTypingDlg::onReenteredKeyUp()
{
    onKeyUp(m_reentered, m_reenteredSlots, kReenteredGrid);
}

// Files the clock's gaps under the field's current text length (in bytes). Only a release that
// stored something updates the table and re-evaluates. A release changes one key position, so
// only that position's labels are rewritten: every label write repaints at once, and the time
// it takes delays the next key event.
void CTypingDlg::onKeyUp(const CEdit& field, typrova::TimingSlots& slots, const TimingGridIds& grid)
{
    const std::size_t key = field.GetSecretText().size();
    if (!m_clock.recordRelease(slots, key))
        return;
    showSlot(*this, slots, grid, key);
    refreshResult();
}

void CTypingDlg::showEnteredTable() const
{
    showTable(*this, m_enteredSlots, kEnteredGrid);
}

void CTypingDlg::showReenteredTable() const
{
    showTable(*this, m_reenteredSlots, kReenteredGrid);
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
    typrova::Evaluation result = typrova::evaluate(
        entered.view(), reentered.view(), m_enteredSlots, m_reenteredSlots, m_threshold.GetPos());
    // The two labels are written only when their text changes (see onKeyUp).
    if (result.verdict != m_shown.verdict)
        SetDlgItemText(IDC_VERDICT, result.verdict);
    if (result.score != m_shown.score)
        SetDlgItemText(IDC_SCORE, result.score);
    m_shown = std::move(result);
}

// The threshold label follows the slider each time it draws; the verdict does not.
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

// A minimised dialog paints its own icon, centred in the client area.
void CTypingDlg::OnPaint()
{
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

HCURSOR CTypingDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}
