// SPDX-License-Identifier: GPL-3.0-or-later
// Documents and the single-document template: New, Open and Save as the framework runs them.
// A file is read whole; a save goes to a temporary file that replaces the old one only when every
// byte was written, so a failed save leaves the old file whole. Only a regular file is opened, or
// saved over: a folder, a device, a FIFO or a socket is refused with a plain reason. The view
// moves the bytes itself, file to file, through the descriptor the archive carries.
#include "platform/afxdoc.h"
#include "platform/afxapp.h"
#include "platform/afxframe.h"
#include "platform/afxview.h"
#include "platform/resdata.h"

#include "platform/namelessfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const CRuntimeClass CDocument::classCDocument{"CDocument", nullptr, &CObject::classCObject};

namespace {
const char* const kUntitled = "Untitled";

void ReportFileError(const char* what, const CString& path, const QString& reason)
{
    CString text;
    text.Format("%s \"%s\".\n\n%s", what, path.c_str(), reason.toUtf8().constData());
    AfxMessageBox(text.c_str(), MB_ICONEXCLAMATION);
}

const char* const kNotRegular = "it is not a regular file";

QString ErrnoText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// Whether path names something that is there but is no regular file: a folder, a device, a FIFO
// or a socket. Such a thing is never the log: reading a device or a FIFO may never end, and
// opening a FIFO waits for a writer.
bool IsThereButNotRegular(const QByteArray& path)
{
    struct stat st{};
    return ::stat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode);
}

// The file at path opened to be read, or -1 with why. Opened without waiting (a FIFO put there
// meanwhile opens at once) and refused unless it is a regular file.
int OpenRegularFile(const QByteArray& path, QString* why)
{
    if (IsThereButNotRegular(path)) {
        *why = QString::fromLatin1(kNotRegular);
        return -1;
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *why = ErrnoText(errno);
        return -1;
    }
    struct stat st{};
    const bool known = ::fstat(fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        *why = known ? QString::fromLatin1(kNotRegular) : ErrnoText(errno);
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}
} // namespace

// ---- CDocument -----------------------------------------------------------------------------------

CDocument::CDocument() : m_strTitle(kUntitled) {}
CDocument::~CDocument() = default;

const AFX_MSGMAP* CDocument::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {
        ON_COMMAND(ID_FILE_SAVE, &CDocument::OnFileSave),
    };
    static const AFX_MSGMAP map{&CCmdTarget::GetThisMessageMap, entries};
    return &map;
}

void CDocument::AddView(CView* view)
{
    m_views.push_back(view);
    view->m_pDocument = this;
}

void CDocument::SetPathName(LPCSTR path)
{
    m_strPathName = path != nullptr ? path : "";
    if (m_strPathName.empty())
        m_strTitle = kUntitled;
    else
        m_strTitle = QFileInfo(QString::fromUtf8(m_strPathName.c_str())).fileName().toStdString();
}

BOOL CDocument::OnNewDocument()
{
    SetPathName(nullptr);
    SetModifiedFlag(FALSE);
    return TRUE;
}

void CDocument::Serialize(CArchive&) {}

BOOL CDocument::OnOpenDocument(LPCSTR pathName)
{
    QString why;
    const int fd = OpenRegularFile(QFile::encodeName(QString::fromUtf8(pathName)), &why);
    if (fd < 0) {
        ReportFileError("Unable to open the file", pathName, why);
        return FALSE;
    }
    CArchive ar(CArchive::load, fd);
    Serialize(ar);
    ::close(fd);
    if (!ar.GetError().empty()) {
        ReportFileError("Unable to read the file", pathName, QString::fromStdString(ar.GetError()));
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    return TRUE;
}

BOOL CDocument::OnSaveDocument(LPCSTR pathName)
{
    // The save would put a new file in the place of a device, FIFO or socket (or write to it,
    // which may never end): refused, as a folder is.
    if (IsThereButNotRegular(QFile::encodeName(QString::fromUtf8(pathName)))) {
        ReportFileError("Unable to save the file", pathName, QString::fromLatin1(kNotRegular));
        return FALSE;
    }
    QSaveFile file(QString::fromUtf8(pathName));
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    QString reason;
    if (ok) {
        CArchive ar(CArchive::store, file.handle());
        Serialize(ar);
        ok = ar.GetError().empty();
        reason = QString::fromStdString(ar.GetError());
    }
    // The file replaced is let go of beside the window: freeing a large file's blocks takes time.
    const int replaced = ok ? ::open(QFile::encodeName(QString::fromUtf8(pathName)).constData(), O_PATH | O_CLOEXEC) : -1;
    if (ok)
        ok = file.commit();
    if (ok)
        closeInBackground(replaced);
    else if (replaced >= 0)
        ::close(replaced);
    if (!ok) {
        if (reason.isEmpty())
            reason = file.errorString();
        file.cancelWriting();
        ReportFileError("Unable to save the file", pathName, reason);
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    return TRUE;
}

BOOL CDocument::SaveModified()
{
    if (!IsModified())
        return TRUE;
    CString text;
    text.Format("Save changes to %s?", m_strTitle.c_str());
    switch (AfxMessageBox(text.c_str(), MB_YESNOCANCEL)) {
    case IDCANCEL:
        return FALSE;
    case IDYES:
        return DoFileSave();
    default:
        return TRUE;
    }
}

BOOL CDocument::DoSave(LPCSTR pathName, BOOL bReplace)
{
    CString newName = pathName != nullptr ? pathName : "";
    if (newName.empty()) {
        newName = m_strTitle;
        if (!AfxDoPromptFileName(newName, FALSE))
            return FALSE;
    }
    if (!OnSaveDocument(newName.c_str()))
        return FALSE;
    if (bReplace)
        SetPathName(newName.c_str());
    return TRUE;
}

BOOL CDocument::DoFileSave()
{
    return DoSave(m_strPathName.empty() ? nullptr : m_strPathName.c_str());
}

void CDocument::OnFileSave()
{
    DoFileSave();
}

// ---- Templates -----------------------------------------------------------------------------------

CDocTemplate::CDocTemplate(UINT nIDResource, const CRuntimeClass* docClass,
                           const CRuntimeClass* frameClass, const CRuntimeClass* viewClass)
    : m_nIDResource(nIDResource), m_pDocClass(docClass), m_pFrameClass(frameClass), m_pViewClass(viewClass)
{
    if (const char* s = AfxLoadString(nIDResource))
        m_strDocStrings = s;
}

CDocTemplate::~CDocTemplate() = default;

BOOL CDocTemplate::GetDocString(CString& rString, DocStringIndex index) const
{
    std::size_t start = 0;
    for (int i = 0; i < static_cast<int>(index); ++i) {
        const std::size_t nl = m_strDocStrings.find('\n', start);
        if (nl == std::string::npos) {
            rString.clear();
            return FALSE;
        }
        start = nl + 1;
    }
    const std::size_t end = m_strDocStrings.find('\n', start);
    rString = m_strDocStrings.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return TRUE;
}

CSingleDocTemplate::~CSingleDocTemplate()
{
    // The frame goes first (its view with it), then the document.
    delete m_pFrame;
    m_pFrame = nullptr;
    delete m_pOnlyDoc;
    m_pOnlyDoc = nullptr;
}

CFrameWnd* CSingleDocTemplate::CreateNewFrame(CDocument* doc)
{
    auto* frame = dynamic_cast<CFrameWnd*>(m_pFrameClass->CreateObject());
    if (frame == nullptr)
        return nullptr;
    CCreateContext context;
    context.m_pNewViewClass = m_pViewClass;
    context.m_pCurrentDoc = doc;
    context.m_pNewDocTemplate = this;
    if (!frame->LoadFrame(m_nIDResource, &context)) {
        delete frame;
        return nullptr;
    }
    return frame;
}

CDocument* CSingleDocTemplate::OpenDocumentFile(LPCSTR pathName)
{
    CDocument* doc = m_pOnlyDoc;
    bool created = false;
    if (doc != nullptr) {
        if (!doc->SaveModified())
            return nullptr;
    } else {
        doc = dynamic_cast<CDocument*>(m_pDocClass->CreateObject());
        if (doc == nullptr)
            return nullptr;
        doc->m_pDocTemplate = this;
        m_pOnlyDoc = doc;
        created = true;
    }
    if (m_pFrame == nullptr) {
        m_pFrame = CreateNewFrame(doc);
        if (m_pFrame == nullptr) {
            delete doc;
            m_pOnlyDoc = nullptr;
            return nullptr;
        }
        created = true;
        // The main window from now on: a long file named at start shows it while it opens, and
        // what the user does meanwhile waits for the open (the frame, if the open fails, goes).
        CWinApp* app = AfxGetApp();
        if (app != nullptr && app->m_pMainWnd == nullptr)
            app->m_pMainWnd = m_pFrame;
    }

    const bool ok = pathName == nullptr ? doc->OnNewDocument() : doc->OnOpenDocument(pathName);
    if (!ok) {
        if (created) {
            delete m_pFrame;
            m_pFrame = nullptr;
            delete doc;
            m_pOnlyDoc = nullptr;
        }
        return nullptr;
    }
    if (pathName != nullptr)
        doc->SetPathName(pathName);

    if (created) {
        if (CView* view = m_pFrame->GetActiveView())
            view->OnInitialUpdate();
        m_pFrame->ActivateFrame();
    }
    m_pFrame->OnUpdateFrameTitle();
    return doc;
}
