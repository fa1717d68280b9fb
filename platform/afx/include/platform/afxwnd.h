// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Windows, and the fonts and device contexts that measure text. A window is shown by one Qt widget;
// Qt stays behind this header except where that widget must be handed out (CWnd::GetWidget).
#include "platform/afxcore.h"

#include <memory>

class QFont;
class QObject;
class QWidget;

class CWnd : public CCmdTarget {
public:
    CWnd();
    ~CWnd() override;

    // The Qt widget that shows this window; null before creation.
    QWidget* GetWidget() const { return m_widget; }
    // The object that receives this window's posted messages.
    HWND GetSafeHwnd() const;

    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Dispatches a window message through the map; unhandled messages give 0.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Carries out a command from a menu or key: enabling handler first, dropped when disabled.
    virtual BOOL OnCommand(UINT nID);

    virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
    virtual void DestroyWindow();

    void SetWindowText(LPCSTR text);

    // Help Topics: the program's manual.
    void OnHelpFinder();

    static const AFX_MSGMAP* GetThisMessageMap();
    const AFX_MSGMAP* GetMessageMap() const override { return GetThisMessageMap(); }

protected:
    // Takes ownership of widget as this window's on-screen form and routes its messages here.
    void Attach(QWidget* widget);
    // Runs the map's WM_CREATE handler; 0 when there is none.
    int SendCreate(CREATESTRUCT* cs);

private:
    QWidget* m_widget = nullptr;
    std::unique_ptr<QObject> m_bridge;
    friend class CWndBridge;
};

// ---- Fonts and device contexts (text measurement) ---------------------------------------------------
class CFont {
public:
    CFont();
    explicit CFont(const QFont& font);
    ~CFont();
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;
    const QFont& GetQFont() const;
    void SetQFont(const QFont& font);

private:
    std::unique_ptr<QFont> m_font;
};

struct CSize {
    int cx = 0;
    int cy = 0;
};

class CDC {
public:
    CDC();
    virtual ~CDC();
    CFont* SelectObject(CFont* font);      // returns the font it replaces
    CSize GetTextExtent(LPCSTR text, int length) const;

protected:
    CFont m_defaultFont;
    CFont* m_current = nullptr;
};

// A device context for a whole window: its default font is the window's font.
class CWindowDC : public CDC {
public:
    explicit CWindowDC(CWnd* wnd);
};
