// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The log view: a read-only edit view that shows every line received, and the owner of the bound
// socket and of the clients accepted from it.
#include "listener/LineAssembler.h"
#include "platform/afxext.h"
#include "platform/afxwin.h"
#include "platform/winsock.h"

#include <map>
#include <string>
#include <vector>

class CCisternDoc;

// The window message that carries socket events to the view.
inline constexpr UINT WM_SOCKET_NOTIFY = 0x8004;

class CCisternView : public CEditView {
public:
    CCisternView();
    ~CCisternView() override;

    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    void OnInitialUpdate() override;

    // Adds text at the end of the log, scrolls to it and leaves the document unmodified.
    void AppendToLog(LPCSTR text);
    void AppendToLog(const char* data, std::size_t length);
    // The same, written in place: room for up to `most` bytes at the log's end, then the first
    // length bytes written there added.
    char* BeginAppendToLog(std::size_t most);
    void EndAppendToLog(std::size_t length);
    // Closes the bound socket and shows "No connection".
    void CloseConnection();
    // Binds the socket for host and port; 0 on success, else 1, 2, 3 or 5.
    int StartListening(LPCSTR host, LPCSTR port);
    // The local host's dotted IPv4 address, or empty text when it cannot be found.
    CString GetLocalAddress();

    // Command and message handlers.
    void OnMakeConnection();
    void OnCloseConnection();
    void OnClearLog();
    void OnUpdateConnectionMake(CCmdUI* pCmdUI);
    void OnUpdateConnectionClose(CCmdUI* pCmdUI);
    LRESULT OnSocketNotify(WPARAM wParam, LPARAM lParam);

    // The clients' lines, and those of them still open.
    const LineAssembler& ClientLines() const { return m_lines; }

    ws::SOCKET m_listenSocket = 0;
    int m_nProtocol = 0;
    ws::SOCKET m_clientSocket = 0;

    static const CRuntimeClass classCCisternView;
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

protected:
    void OnLogCaughtUp() override;

private:
    // A TCP client being read: the binding it came from, and whether its reading waits for the
    // log to catch up. The line it has begun waits in m_lines.
    struct Client {
        ws::SOCKET acceptedFrom = 0;
        bool waiting = false;
    };
    // The clients' lines go in at the log's end, as any append does.
    struct LogEnd final : LineAssembler::Log {
        explicit LogEnd(CCisternView& view) : view(view) {}
        char* BeginAppend(std::size_t most) override { return view.RoomAtLogEnd(most); }
        void EndAppend(std::size_t length) override { view.EndAppendToLog(length); }
        long long Length() const override { return view.GetWindowTextLength(); }
        CCisternView& view;
    };

    char* RoomAtLogEnd(std::size_t most);

    void ReadDatagrams();
    void ReadClient(ws::SOCKET s);
    void OnClientClosed(ws::SOCKET s);
    int AcceptWaitingClients();

    bool m_listenIsStream = false;
    bool m_datagramsWaiting = false;   // reading datagrams waits for the log to catch up
    std::map<ws::SOCKET, Client> m_clients;
    LogEnd m_logEnd{*this};
    LineAssembler m_lines{m_logEnd};
    std::vector<char> m_recvBuffer;   // one datagram, or one stream read
};
