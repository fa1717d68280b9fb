// SPDX-License-Identifier: GPL-3.0-or-later
// The edit view. Its text is the read-only log widget's bytes; appending marks the document
// modified, setting the whole text does not.
#include "platform/afxext.h"
#include "platform/afxapp.h"
#include "platform/afxdoc.h"
#include "platform/afxframe.h"
#include "platform/logdocument.h"
#include "platform/logtextwidget.h"
#include "platform/resdata.h"

#include <QScrollBar>

#include <cerrno>
#include <cstring>

const CRuntimeClass CEditView::classCEditView{"CEditView", nullptr, &CView::classCView};

// ---- CEditView -----------------------------------------------------------------------------------

CEditView::CEditView() = default;
CEditView::~CEditView() = default;

const AFX_MSGMAP* CEditView::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {
        ON_COMMAND(ID_EDIT_COPY, &CEditView::OnEditCopy),
        ON_UPDATE_COMMAND_UI(ID_EDIT_COPY, &CEditView::OnUpdateNeedSel),
    };
    static const AFX_MSGMAP map{&CView::GetThisMessageMap, entries};
    return &map;
}

BOOL CEditView::PreCreateWindow(CREATESTRUCT& cs)
{
    cs.style |= WS_HSCROLL | WS_VSCROLL | ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_MULTILINE | ES_NOHIDESEL;
    return CView::PreCreateWindow(cs);
}

QWidget* CEditView::CreateViewWidget(const CREATESTRUCT& cs)
{
    // The log's store goes to the cache folder named after the application's title.
    m_log = std::make_unique<LogDocument>();
    // The log widget is read-only whatever the style says: the one edit view, the log, asks for
    // ES_READONLY.
    m_edit = new CLogTextWidget(*m_log);
    // A long load or save tells how it is getting on in the message pane.
    QObject::connect(m_log.get(), &LogDocument::progress, m_edit, [](const QString& text) {
        if (auto* frame = dynamic_cast<CFrameWnd*>(AfxGetMainWnd()))
            frame->SetMessageText(text.isEmpty() ? nullptr : text.toUtf8().constData());
    });
    const auto tell = [](const QString& text) { AfxMessageBox(text.toUtf8().constData(), MB_ICONEXCLAMATION); };
    QObject::connect(m_log.get(), &LogDocument::notice, m_edit, tell, Qt::QueuedConnection);
    QObject::connect(m_edit, &CLogTextWidget::notice, m_edit, tell, Qt::QueuedConnection);
    QObject::connect(m_log.get(), &LogDocument::caughtUp, m_edit, [this] { OnLogCaughtUp(); });
    // Without a horizontal scroll bar or horizontal auto-scroll, long lines wrap at the edge.
    m_edit->setWordWrap((cs.style & (WS_HSCROLL | ES_AUTOHSCROLL)) == 0);
    m_edit->setVerticalScrollBarPolicy((cs.style & WS_VSCROLL) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    if ((cs.style & WS_HSCROLL) == 0)
        m_edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return m_edit;
}

long long CEditView::GetWindowTextLength() const
{
    return m_log != nullptr ? m_log->size() : 0;
}

void CEditView::SetWindowText(LPCSTR text)
{
    if (m_log == nullptr)
        return;
    m_log->clear();
    if (text != nullptr)
        m_log->append(text, static_cast<qsizetype>(std::strlen(text)));
}

const char* CEditView::GetTextData() const
{
    return m_log != nullptr ? m_log->data() : "";
}

std::size_t CEditView::GetTextSize() const
{
    return m_log != nullptr ? static_cast<std::size_t>(m_log->size()) : 0;
}

void CEditView::SetSel(long long nStartChar, long long nEndChar)
{
    if (m_edit == nullptr)
        return;
    // -1 as the start drops the selection, leaving the caret where it is.
    if (nStartChar < 0)
        m_edit->setSelection(m_edit->selectionEnd(), m_edit->selectionEnd());
    else
        m_edit->setSelection(nStartChar, nEndChar < 0 ? m_log->size() : nEndChar);
}

void CEditView::ScrollCaret()
{
    if (m_edit != nullptr)
        m_edit->scrollCaretIntoView();
}

char* CEditView::BeginAppend(std::size_t most)
{
    if (m_log == nullptr) {
        m_noWindowRoom.resize(most);
        return m_noWindowRoom.data();
    }
    return m_log->appendRoom(static_cast<qsizetype>(most));
}

void CEditView::EndAppend(std::size_t length)
{
    // Nothing added (an empty datagram, a read without a line end) is no change.
    if (m_log == nullptr || length == 0)
        return;
    m_log->appended(static_cast<qsizetype>(length));
    // A change of the text marks the document modified; setting the whole text does not.
    if (CDocument* doc = GetDocument())
        doc->SetModifiedFlag(TRUE);
}

bool CEditView::LogIsBehind() const
{
    if (m_log == nullptr || !m_log->behind())
        return false;
    m_log->notifyWhenCaughtUp();
    return true;
}

void CEditView::SerializeRaw(CArchive& ar)
{
    if (m_log == nullptr)
        return;
    if (ar.IsStoring()) {
        if (!m_log->save(ar.GetFile()))
            ar.SetError(std::strerror(errno));
    } else if (QString why; !m_log->load(ar.GetFile(), &why)) {
        ar.SetError(why.toStdString());
    }
    // What came meanwhile runs now.
    AfxFileOperationEnded();
}

bool CEditView::IsFileOperationRunning() const { return m_log != nullptr && m_log->fileOperationRunning(); }

void CEditView::OnEditCopy()
{
    if (m_edit != nullptr)
        m_edit->copy();
}

void CEditView::OnUpdateNeedSel(CCmdUI* pCmdUI)
{
    pCmdUI->Enable(m_edit != nullptr && m_edit->selectionStart() != m_edit->selectionEnd());
}
