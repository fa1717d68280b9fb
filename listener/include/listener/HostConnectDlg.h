// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Make Host Connection" dialog: the host (shown, not editable), the port, the protocol and
// whether to clear the log first.
#include "platform/afxdlg.h"

class CHostConnectDlg : public CDialog {
public:
    explicit CHostConnectDlg(CWnd* pParent = nullptr);
    ~CHostConnectDlg() override;

    CString m_strHost;
    BOOL m_bClearWindow = FALSE;
    CString m_strPort;
    int m_nProtocol = -1;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
};
