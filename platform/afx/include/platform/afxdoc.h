// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Documents and the single-document template: New, Open and Save as the framework runs them.
#include "platform/afxcore.h"

#include "platform/cstring.h"

#include <memory>
#include <vector>

// ---- Archive ---------------------------------------------------------------------------------------
// The file a document is read from (from its start) or written to (empty, from its start), as an
// open descriptor. A Serialize that cannot do its part says why with SetError.
class CArchive {
public:
    enum Mode { load = 1, store = 0 };
    CArchive(Mode mode, int fd) : m_mode(mode), m_fd(fd) {}
    BOOL IsStoring() const { return m_mode == store; }
    int GetFile() const { return m_fd; }
    void SetError(const CString& why) { m_error = why; }
    const CString& GetError() const { return m_error; }

private:
    Mode m_mode;
    int m_fd;
    CString m_error;
};

// ---- Documents -------------------------------------------------------------------------------------
class CDocument : public CCmdTarget {
public:
    CDocument();
    ~CDocument() override;

    virtual BOOL OnNewDocument();
    virtual BOOL OnOpenDocument(LPCSTR pathName);
    virtual BOOL OnSaveDocument(LPCSTR pathName);
    virtual void Serialize(CArchive& ar);
    // Asks to save when modified; TRUE to go on.
    virtual BOOL SaveModified();

    BOOL IsModified() const { return m_bModified; }
    void SetModifiedFlag(BOOL bModified = TRUE) { m_bModified = bModified; }
    const CString& GetPathName() const { return m_strPathName; }
    void SetPathName(LPCSTR path);
    const CString& GetTitle() const { return m_strTitle; }

    void AddView(CView* view);
    CView* GetFirstView() const { return m_views.empty() ? nullptr : m_views.front(); }
    CDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

    // Save to the known path, or ask for one first; TRUE when saved.
    BOOL DoSave(LPCSTR pathName, BOOL bReplace = TRUE);
    BOOL DoFileSave();
    void OnFileSave();

    static const CRuntimeClass classCDocument;
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

private:
    BOOL m_bModified = FALSE;
    CString m_strPathName;
    CString m_strTitle;
    std::vector<CView*> m_views;
    CDocTemplate* m_pDocTemplate = nullptr;
    friend class CSingleDocTemplate;
};

// ---- Document templates ----------------------------------------------------------------------------
// The seven fields of the document string.
enum class DocStringIndex { windowTitle, docName, fileNewName, filterName, filterExt, regFileTypeId, regFileTypeName };

class CDocTemplate : public CCmdTarget {
public:
    CDocTemplate(UINT nIDResource, const CRuntimeClass* docClass, const CRuntimeClass* frameClass,
                 const CRuntimeClass* viewClass);
    ~CDocTemplate() override;
    BOOL GetDocString(CString& rString, DocStringIndex index) const;
    // New with a null path; Open otherwise. Returns the document, or null on failure.
    virtual CDocument* OpenDocumentFile(LPCSTR pathName) = 0;

protected:
    UINT m_nIDResource;
    const CRuntimeClass* m_pDocClass;
    const CRuntimeClass* m_pFrameClass;
    const CRuntimeClass* m_pViewClass;
    CString m_strDocStrings;
};

class CSingleDocTemplate : public CDocTemplate {
public:
    using CDocTemplate::CDocTemplate;
    ~CSingleDocTemplate() override;
    CDocument* OpenDocumentFile(LPCSTR pathName) override;
    CDocument* GetDocument() const { return m_pOnlyDoc; }

private:
    CFrameWnd* CreateNewFrame(CDocument* doc);
    CDocument* m_pOnlyDoc = nullptr;
    CFrameWnd* m_pFrame = nullptr;
};
