// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Modal dialogs built from dialog templates, with data exchange between members and controls.
#include "platform/afxwnd.h"

#include <functional>

struct DialogTemplateData;
class CDialog;

// The direction and the dialog of one data exchange.
class CDataExchange {
public:
    CDataExchange(CDialog* dlg, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(dlg) {}
    BOOL m_bSaveAndValidate;
    CDialog* m_pDlgWnd;
    int m_idLastControl = 0;   // the control of the last exchange, focused when validation fails

    // Ends a failed validation: the control is focused with its text selected, the dialog stays.
    [[noreturn]] void Fail();
    // The control nIDC, remembered for Fail.
    QWidget* PrepareCtrl(int nIDC);
};

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
void DDV_MaxChars(CDataExchange* pDX, const CString& value, int nChars);
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
// The radio group that starts at nIDC (a control with WS_GROUP) and runs to the next WS_GROUP
// control; value is the index of the checked button, -1 for none.
void DDX_Radio(CDataExchange* pDX, int nIDC, int& value);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Runs the dialog: IDOK or IDCANCEL, or -1 when its template is missing.
    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* pDX);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    void EndDialog(int nResult);

    QWidget* GetDlgItem(int nID) const;
    const DialogTemplateData* GetTemplate() const { return m_pTemplate; }
    // Presses the button nID as the user would (for tests and keyboard handling).
    void ClickButton(int nID);


private:
    void CreateControls();
    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    const DialogTemplateData* m_pTemplate = nullptr;
    int m_nModalResult = -1;
};

// Runs instead of the modal loop in tests: the dialog is built, initialised and handed over; the
// hook works its controls (ClickButton ends it). A dialog not ended by the hook is cancelled.
namespace afxtest {
void SetModalHook(std::function<void(CDialog&)> hook);
}
