#include "listener/HostConnectDlg.h"

#include "resources/resource.h"

CHostConnectDlg::CHostConnectDlg(CWnd* pParent) : CDialog(IDD_HOSTCONNECT, pParent)
{
    m_strHost = "";
    m_bClearWindow = FALSE;
    m_strPort = "";
    m_nProtocol = -1;
}

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
