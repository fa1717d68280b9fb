// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The edit view: the view that shows the log.
#include "platform/afxview.h"

#include <cstddef>
#include <memory>
#include <vector>

class CLogTextWidget;
class LogDocument;

// The edit view, read-only: its text is bytes, held exactly as set or appended. Positions are byte
// offsets.
class CEditView : public CView {
public:
    CEditView();
    ~CEditView() override;

    BOOL PreCreateWindow(CREATESTRUCT& cs) override;

    // Positions in the text are 64-bit: a log grows past 4 GiB.
    long long GetWindowTextLength() const;
    // Sets the whole text at once.
    void SetWindowText(LPCSTR text);
    // The text as bytes.
    const char* GetTextData() const;
    std::size_t GetTextSize() const;

    // The selection (-1 as the start drops it), and scrolling the caret (the selection's end)
    // into view.
    void SetSel(long long nStartChar, long long nEndChar);
    void ScrollCaret();
    // The log is read-only, and text is only ever added at its end, written in place: BeginAppend
    // gives room for up to `most` bytes there, good until the next change of the text, and
    // EndAppend(length) adds the first length bytes written in it. The caret follows them, and
    // the document is marked modified.
    char* BeginAppend(std::size_t most);
    void EndAppend(std::size_t length);
    // Whether the text cannot keep up for now (the disk that keeps it far behind, or a load or
    // save holding much that arrived meanwhile). Whoever stops reading for that hears
    // OnLogCaughtUp() once it can again.
    bool LogIsBehind() const;

    // Writes the whole text to, or reads the whole file as the text from, the archive's file.
    void SerializeRaw(CArchive& ar);

    CLogTextWidget* GetEditCtrl() const { return m_edit; }
    bool IsFileOperationRunning() const override;

    // Copy, enabled while there is a selection.
    void OnEditCopy();
    void OnUpdateNeedSel(CCmdUI* pCmdUI);

    static const CRuntimeClass classCEditView;
    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

protected:
    QWidget* CreateViewWidget(const CREATESTRUCT& cs) override;
    virtual void OnLogCaughtUp() {}

private:
    std::unique_ptr<LogDocument> m_log;  // the text
    CLogTextWidget* m_edit = nullptr;    // shows it
    std::vector<char> m_noWindowRoom;  // appends before the window exists go nowhere
};
