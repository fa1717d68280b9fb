// SPDX-License-Identifier: GPL-3.0-or-later
// The Make Connection command: propose the local address and the remembered port and protocol,
// bind on OK, tell the outcome, and remember the choice after a successful bind.
#include "listener/CisternView.h"
#include "listener/HostConnectDlg.h"
#include "listener/StatusPane.h"

#include <cstdlib>

namespace {
const char kSection[] = "Connect";
const char kPortKey[] = "Port";
const char kProtocolKey[] = "Protocol";

// A plain reason for the failures a user meets most, or null.
const char* ReasonFor(int code)
{
    switch (code) {
    case ws::WSAEACCES:
        return "On this system, ports below 1024 need administrator rights. Choose a port from 1024 up.";
    case ws::WSAEADDRINUSE:
        return "Another program already uses this port.";
    case ws::WSAEADDRNOTAVAIL:
        return "The address is not one of this machine's.";
    case ws::WSAHOST_NOT_FOUND:
        return "The host name could not be resolved.";
    default:
        return nullptr;
    }
}

// The message shown when binding failed with the socket service's error code.
CString ListenErrorMessage(int code)
{
    CString text;
    text.Format("Windows Socket Error %d: Error on Listen.\n\n", code);
    if (const char* reason = ReasonFor(code))
        text += reason;
    return text;
}
} // namespace

void CCisternView::OnMakeConnection()
{
    CHostConnectDlg dlg(nullptr);
    CWinApp* app = AfxGetApp();

    dlg.m_strHost = GetLocalAddress();
    dlg.m_strPort = app->GetProfileString(kSection, kPortKey, "");
    if (dlg.m_strPort == "")
        dlg.m_strPort = "80";
    dlg.m_nProtocol = app->GetProfileInt(kSection, kProtocolKey, 0);

    if (dlg.DoModal() == IDOK) {
        m_nProtocol = dlg.m_nProtocol;
        if (dlg.m_bClearWindow)
            SetWindowText("");
        if (dlg.m_strPort.GetLength() == 0) {
            AfxMessageBox("You must enter a port number.\n\nTry again.", MB_OK, 0);
            return;
        }
        // A port beyond 16 bits would bind some other port; refuse it instead.
        const long value = std::strtol(dlg.m_strPort.c_str(), nullptr, 10);
        if (value < 0 || value > 65535) {
            AfxMessageBox("The port must be a number from 0 to 65535.\n\nTry again.", MB_OK, 0);
            return;
        }
        if (StartListening(dlg.m_strHost, dlg.m_strPort) != 0) {
            const int code = ws::WSAGetLastError();
            AfxMessageBox(ListenErrorMessage(code).c_str(), MB_OK, 0);
            CloseConnection();
            return;
        }
        // The pane names the port actually bound: the one the system chose for port 0.
        CString port;
        port.Format("%u", static_cast<unsigned>(ws::GetBoundPort(m_listenSocket)));
        CString text;
        text.Format("Connected to %s on port %s", dlg.m_strHost.c_str(), port.c_str());
        SetMainWindowPaneText(1, text.c_str());
        app->WriteProfileString(kSection, kPortKey, dlg.m_strPort.c_str());
        app->WriteProfileInt(kSection, kProtocolKey, dlg.m_nProtocol);
    }
    if (CDocument* doc = GetDocument())
        doc->SetModifiedFlag(FALSE);
}
