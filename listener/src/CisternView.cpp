// SPDX-License-Identifier: GPL-3.0-or-later
// The log view: construction, the log's appends, closing the connection, the small commands and
// their enabling rules.
#include "listener/CisternView.h"
#include "listener/StatusPane.h"

#include "resources/resource.h"

#include <cstring>

const CRuntimeClass CCisternView::classCCisternView{"CCisternView", &AfxCreateObject<CCisternView>,
                                                    &CEditView::classCEditView};

namespace {
// Room for the largest UDP datagram, and for large stream reads: a flood is taken in few calls.
constexpr std::size_t kReceiveBufferSize = 256 * 1024;
} // namespace

BOOL SetMainWindowPaneText(int index, LPCSTR text)
{
    auto* host = dynamic_cast<CStatusPaneHost*>(AfxGetMainWnd());
    return host != nullptr ? host->SetStatusPaneText(index, text) : FALSE;
}

CCisternView::CCisternView()
{
    m_recvBuffer.resize(kReceiveBufferSize);
    ws::WSADATA data;
    if (ws::WSAStartup(0x0101, &data) != 0)
        AfxMessageBox("WSAStartup failed", MB_OK, 0);
}

CCisternView::~CCisternView()
{
    if (m_listenSocket != 0)
        ws::closesocket(m_listenSocket);
    // Clients still connected when the window closes are let go with it.
    for (const auto& [s, client] : m_clients)
        ws::closesocket(s);
}

const AFX_MSGMAP* CCisternView::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {
        ON_COMMAND(ID_CONNECTION_MAKE, &CCisternView::OnMakeConnection),
        ON_COMMAND(ID_CONNECTION_CLOSE, &CCisternView::OnCloseConnection),
        ON_UPDATE_COMMAND_UI(ID_CONNECTION_CLOSE, &CCisternView::OnUpdateConnectionClose),
        ON_UPDATE_COMMAND_UI(ID_CONNECTION_MAKE, &CCisternView::OnUpdateConnectionMake),
        ON_COMMAND(ID_VIEW_CLEARLOG, &CCisternView::OnClearLog),
        ON_MESSAGE(WM_SOCKET_NOTIFY, &CCisternView::OnSocketNotify),
    };
    static const AFX_MSGMAP map{&CEditView::GetThisMessageMap, entries};
    return &map;
}

BOOL CCisternView::PreCreateWindow(CREATESTRUCT& cs)
{
    const BOOL result = CEditView::PreCreateWindow(cs);
    cs.style &= ~(WS_HSCROLL | ES_AUTOHSCROLL);
    cs.style |= ES_READONLY;
    return result;
}

void CCisternView::OnInitialUpdate()
{
    AfxSetWhatsThis(GetWidget(),
                    "The log: every line of text received on the bound port, in the order it arrived. "
                    "It cannot be typed into; select text and press Ctrl+C to copy it, Ctrl+S to save the log.");
}

void CCisternView::AppendToLog(LPCSTR text)
{
    AppendToLog(text, text != nullptr ? std::strlen(text) : 0);
}

void CCisternView::AppendToLog(const char* data, std::size_t length)
{
    char* room = BeginAppendToLog(length);
    if (length > 0)
        std::memcpy(room, data, length);
    EndAppendToLog(length);
}

char* CCisternView::BeginAppendToLog(std::size_t most)
{
    // A client's long line left open at the log's end is ended before anything else goes in.
    m_lines.MakeWay();
    return RoomAtLogEnd(most);
}

char* CCisternView::RoomAtLogEnd(std::size_t most)
{
    const long long end = GetWindowTextLength();
    SetSel(end, end);
    ScrollCaret();
    return BeginAppend(most);
}

void CCisternView::EndAppendToLog(std::size_t length)
{
    EndAppend(length);
    if (CDocument* doc = GetDocument())
        doc->SetModifiedFlag(FALSE);
}

void CCisternView::CloseConnection()
{
    ws::closesocket(m_listenSocket);
    m_listenSocket = 0;
    SetMainWindowPaneText(1, "No connection");
}

void CCisternView::OnCloseConnection()
{
    CloseConnection();
}

void CCisternView::OnClearLog()
{
    SetWindowText("");
}

void CCisternView::OnUpdateConnectionMake(CCmdUI* pCmdUI)
{
    pCmdUI->Enable(m_listenSocket == 0);
}

void CCisternView::OnUpdateConnectionClose(CCmdUI* pCmdUI)
{
    pCmdUI->Enable(m_listenSocket != 0);
}
