// The About box: template only; its OK button ends it through the standard handling.
#include "about_dlg.h"

#include "resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}
