// SPDX-License-Identifier: GPL-3.0-or-later
#include "listener/HostConnectDlg.h"

#include "platform/afxhelp.h"

#include "resources/resource.h"

CHostConnectDlg::CHostConnectDlg(CWnd* pParent) : CDialog(IDD_HOSTCONNECT, pParent) {}

CHostConnectDlg::~CHostConnectDlg() = default;

void CHostConnectDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_HOST, m_strHost);
    DDV_MaxChars(pDX, m_strHost, 256);
    DDX_Check(pDX, IDC_CLEARWINDOW, m_bClearWindow);
    DDX_Text(pDX, IDC_PORT, m_strPort);
    DDV_MaxChars(pDX, m_strPort, 5);
    DDX_Radio(pDX, IDC_UDP, m_nProtocol);
}

BOOL CHostConnectDlg::OnInitDialog()
{
    const BOOL result = CDialog::OnInitDialog();
    AfxSetWhatsThis(GetDlgItem(IDC_HOST), "This machine's address, which the port is bound on. It cannot be changed.");
    AfxSetWhatsThis(GetDlgItem(IDC_PORT),
                    "The port to listen on, from 0 to 65535. 0 lets the system choose a free one; "
                    "ports below 1024 need administrator rights.");
    AfxSetWhatsThis(GetDlgItem(IDC_UDP), "Receive datagrams: each one is read whole.");
    AfxSetWhatsThis(GetDlgItem(IDC_TCP), "Accept TCP clients and read their streams until they disconnect.");
    AfxSetWhatsThis(GetDlgItem(IDC_CLEARWINDOW), "Empty the log before listening.");
    return result;
}
