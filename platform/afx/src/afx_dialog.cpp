// SPDX-License-Identifier: GPL-3.0-or-later
// Dialogs from templates: controls made in template order (which is also the tab order), placed
// in dialog units of the dialog's font, and data exchange with validation of text lengths.
#include "platform/afxdlg.h"
#include "platform/afxapp.h"
#include "platform/afxhelp.h"
#include "platform/resdata.h"

#include "afx_icon.h"

#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QValidator>
#include <QWhatsThis>

namespace {
std::function<void(CDialog&)> g_modalHook;

struct ValidationFailed {};

const char* const kControlIdProperty = "cisternControlId";
const char* const kStyleProperty = "cisternStyle";

// Holds an edit box to its character limit for what the user types, without cutting a longer
// text that was put there: such a text may only be shortened.
class CMaxCharsValidator final : public QValidator {
public:
    CMaxCharsValidator(QLineEdit* edit, int limit) : QValidator(edit), m_edit(edit), m_limit(limit) {}
    State validate(QString& input, int&) const override
    {
        return input.size() <= m_limit || input.size() < m_edit->text().size() ? Acceptable : Invalid;
    }

private:
    QLineEdit* m_edit;
    int m_limit;
};

// A radio button of a template whose buttons each carry a tab stop. Qt's exclusive buttons take
// the Tab stop away from the unchecked ones of their group whenever one of them gets the focus,
// so Tab would jump from the checked button past the others; the template's tab stops are put
// back, and Tab visits every button of the group in template order.
class CTabStopRadioButton final : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void focusInEvent(QFocusEvent* e) override
    {
        QRadioButton::focusInEvent(e);
        if (parentWidget() == nullptr)
            return;
        for (QRadioButton* b : parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) {
            const uint style = b->property(kStyleProperty).toUInt();
            if ((style & WS_TABSTOP) != 0 && (style & WS_DISABLED) == 0 && b->isEnabled())
                b->setFocusPolicy(static_cast<Qt::FocusPolicy>(b->focusPolicy() | Qt::TabFocus));
        }
    }
};

} // namespace

// The dialog's window: Escape and the close box cancel through the dialog's own OnCancel.
class CDialogWidget final : public QDialog {
public:
    CDialogWidget(CDialog* owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}
    void reject() override { m_owner->OnCancel(); }

private:
    CDialog* m_owner;
};

void afxtest::SetModalHook(std::function<void(CDialog&)> hook)
{
    g_modalHook = std::move(hook);
}

// ---- Data exchange -------------------------------------------------------------------------------

QWidget* CDataExchange::PrepareCtrl(int nIDC)
{
    m_idLastControl = nIDC;
    return m_pDlgWnd->GetDlgItem(nIDC);
}

void CDataExchange::Fail()
{
    if (auto* edit = qobject_cast<QLineEdit*>(m_pDlgWnd->GetDlgItem(m_idLastControl))) {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    } else if (QWidget* w = m_pDlgWnd->GetDlgItem(m_idLastControl)) {
        w->setFocus(Qt::OtherFocusReason);
    }
    throw ValidationFailed{};
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    auto* edit = qobject_cast<QLineEdit*>(pDX->PrepareCtrl(nIDC));
    if (edit == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        value = edit->text().toStdString();
    else
        edit->setText(QString::fromUtf8(value.c_str()));
}

void DDV_MaxChars(CDataExchange* pDX, const CString& value, int nChars)
{
    auto* edit = qobject_cast<QLineEdit*>(pDX->m_pDlgWnd->GetDlgItem(pDX->m_idLastControl));
    if (pDX->m_bSaveAndValidate) {
        if (QString::fromUtf8(value.c_str()).size() > nChars) {
            CString text;
            text.Format("Enter no more than %d characters.", nChars);
            AfxMessageBox(text.c_str(), MB_ICONEXCLAMATION);
            pDX->Fail();
        }
    } else if (edit != nullptr) {
        edit->setValidator(new CMaxCharsValidator(edit, nChars));
    }
}

void DDX_Check(CDataExchange* pDX, int nIDC, int& value)
{
    auto* box = qobject_cast<QCheckBox*>(pDX->PrepareCtrl(nIDC));
    if (box == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        value = box->isChecked() ? 1 : 0;
    else
        box->setChecked(value == 1);
}

void DDX_Radio(CDataExchange* pDX, int nIDC, int& value)
{
    pDX->PrepareCtrl(nIDC);
    const DialogTemplateData* tmpl = pDX->m_pDlgWnd->GetTemplate();
    if (tmpl == nullptr)
        return;
    // The group: from nIDC to the next control that starts a group, radio buttons only.
    std::vector<QRadioButton*> group;
    bool inGroup = false;
    for (const DialogControlData& c : tmpl->controls) {
        if (!inGroup) {
            inGroup = c.id == nIDC;
        } else if (c.style & WS_GROUP) {
            break;
        }
        if (inGroup)
            if (auto* radio = qobject_cast<QRadioButton*>(pDX->m_pDlgWnd->GetDlgItem(c.id)))
                group.push_back(radio);
    }
    if (pDX->m_bSaveAndValidate) {
        value = -1;
        for (std::size_t i = 0; i < group.size(); ++i)
            if (group[i]->isChecked())
                value = static_cast<int>(i);
        return;
    }
    // Exclusive buttons cannot be cleared one by one; lift the rule while setting them.
    for (QRadioButton* r : group)
        r->setAutoExclusive(false);
    for (std::size_t i = 0; i < group.size(); ++i)
        group[i]->setChecked(static_cast<int>(i) == value);
    for (QRadioButton* r : group)
        r->setAutoExclusive(true);
}

// ---- CDialog -------------------------------------------------------------------------------------

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const ValidationFailed&) {
        return FALSE;
    }
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    if (auto* dlg = qobject_cast<QDialog*>(GetWidget()))
        dlg->done(nResult);
}

QWidget* CDialog::GetDlgItem(int nID) const
{
    QWidget* w = GetWidget();
    if (w == nullptr)
        return nullptr;
    for (QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->property(kControlIdProperty).toInt() == nID && child->property(kControlIdProperty).isValid())
            return child;
    return nullptr;
}

void CDialog::ClickButton(int nID)
{
    if (auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(nID)))
        button->click();
}

void CDialog::CreateControls()
{
    QWidget* dlg = GetWidget();
    const QFontMetrics fm(dlg->font());
    // Dialog units to pixels, through the base units: the font's average character width and height.
    const int baseX = (fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) + 26) / 52;
    const int baseY = fm.height();
    const auto px = [baseX](int x) { return x * baseX / 4; };
    const auto py = [baseY](int y) { return y * baseY / 8; };

    dlg->setFixedSize(px(m_pTemplate->cx), py(m_pTemplate->cy));
    std::vector<QWidget*> order;
    for (const DialogControlData& c : m_pTemplate->controls) {
        const QString text = QString::fromUtf8(c.text ? c.text : "");
        QWidget* w = nullptr;
        const DWORD type = c.style & 0x0F;
        switch (c.cls) {
        case ControlClass::Button:
            if (type == BS_AUTORADIOBUTTON) {
                w = new CTabStopRadioButton(text, dlg);
            } else if (type == BS_AUTOCHECKBOX) {
                w = new QCheckBox(text, dlg);
            } else if (type == BS_GROUPBOX) {
                w = new QGroupBox(text, dlg);
            } else {
                auto* button = new QPushButton(text, dlg);
                button->setDefault(type == BS_DEFPUSHBUTTON);
                button->setAutoDefault(false);
                const int id = c.id;
                QObject::connect(button, &QPushButton::clicked, dlg, [this, id] {
                    if (id == IDOK)
                        OnOK();
                    else if (id == IDCANCEL)
                        OnCancel();
                });
                w = button;
            }
            break;
        case ControlClass::Edit: {
            auto* edit = new QLineEdit(dlg);
            edit->setAccessibleName(QStringLiteral("Edit %1").arg(c.id));
            w = edit;
            break;
        }
        case ControlClass::Static: {
            auto* label = new QLabel(dlg);
            if ((c.style & 0x0F) == SS_ICON && text.startsWith(QLatin1Char('#'))) {
                if (const IconData* icon = AfxFindIcon(text.mid(1).toUInt()))
                    label->setPixmap(AfxLoadIconGroup(*icon).pixmap(32, 32));
            } else {
                label->setText(text);
                label->setTextFormat(Qt::PlainText);
            }
            w = label;
            break;
        }
        }
        w->setProperty(kControlIdProperty, c.id);
        w->setProperty(kStyleProperty, static_cast<uint>(c.style));
        w->setGeometry(px(c.x), py(c.y), px(c.cx), py(c.cy));
        w->setEnabled((c.style & WS_DISABLED) == 0);
        const bool tabStop = (c.style & WS_TABSTOP) != 0 && (c.style & WS_DISABLED) == 0;
        if (c.cls != ControlClass::Static && qobject_cast<QGroupBox*>(w) == nullptr)
            w->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        else
            w->setFocusPolicy(Qt::NoFocus);
        if ((c.style & WS_DISABLED) != 0)
            w->setFocusPolicy(Qt::NoFocus);
        order.push_back(w);
    }
    // Tab order is template order; the first control of the template lies on top.
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        (*it)->raise();
}

INT_PTR CDialog::DoModal()
{
    m_pTemplate = AfxFindDialogTemplate(m_nIDTemplate);
    if (m_pTemplate == nullptr)
        return -1;
    CWnd* owner = m_pParentWnd != nullptr ? m_pParentWnd : AfxGetMainWnd();
    auto* dlg = new CDialogWidget(this, owner != nullptr ? owner->GetWidget() : nullptr);
    dlg->setWindowTitle(QString::fromUtf8(m_pTemplate->caption));
    dlg->setModal(true);
    Attach(dlg);
    CreateControls();
    // Shift+F1 explains the control clicked next; F1 shows the manual.
    auto* whatsThis = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1), dlg);
    QObject::connect(whatsThis, &QShortcut::activated, dlg, [] { QWhatsThis::enterWhatsThisMode(); });
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), dlg);
    QObject::connect(help, &QShortcut::activated, dlg, [dlg] { AfxShowHelp(dlg); });
    m_nModalResult = IDCANCEL;

    if (OnInitDialog()) {
        // The first enabled control with a tab stop takes the focus, its text selected.
        for (const DialogControlData& c : m_pTemplate->controls) {
            if ((c.style & WS_TABSTOP) == 0 || (c.style & WS_DISABLED) != 0)
                continue;
            if (QWidget* w = GetDlgItem(c.id)) {
                w->setFocus(Qt::TabFocusReason);
                if (auto* edit = qobject_cast<QLineEdit*>(w))
                    edit->selectAll();
            }
            break;
        }
    }

    if (g_modalHook) {
        dlg->show();
        g_modalHook(*this);
    } else {
        dlg->exec();
    }
    const int result = m_nModalResult;
    delete dlg;   // CWnd forgets it through the destroyed signal
    return result;
}
