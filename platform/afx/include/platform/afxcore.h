// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The framework's core: run-time classes, message maps and command routing, the enabling object,
// the wait cursor and screen metrics.
#include "platform/afxres.h"
#include "platform/cstring.h"
#include "platform/types.h"

#include <span>

class CObject;
class CCmdTarget;
class CCmdUI;
class CWnd;
class CFrameWnd;
class CView;
class CDocument;
class CDocTemplate;
class CWinApp;
class CArchive;
class CDC;
struct CCreateContext;

// ---- Run-time classes -------------------------------------------------------------------------------
struct CRuntimeClass {
    const char* m_lpszClassName;
    CObject* (*m_pfnCreateObject)();
    const CRuntimeClass* m_pBaseClass;

    CObject* CreateObject() const { return m_pfnCreateObject ? m_pfnCreateObject() : nullptr; }
};

template <class T>
CObject* AfxCreateObject() { return new T; }

// A class made by the framework from its run-time class declares `static const CRuntimeClass classX;`
// and defines it as { "X", &AfxCreateObject<X>, &Base::classBase }.
#define RUNTIME_CLASS(name) (&name::class##name)

class CObject {
public:
    virtual ~CObject() = default;
    static const CRuntimeClass classCObject;
};

// ---- Message maps ----------------------------------------------------------------------------------
// One static table per class, chained to its base class's table. Each entry names a member of the
// class, converted to a member of CCmdTarget (the classes form one single-inheritance chain).
enum class AfxSig : BYTE { Command, UpdateCommandUI, Message, Create };

struct CREATESTRUCT {
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
};

using AFX_PCMD = void (CCmdTarget::*)();
using AFX_PUPDATE = void (CCmdTarget::*)(CCmdUI*);
using AFX_PMSG = LRESULT (CCmdTarget::*)(WPARAM, LPARAM);
using AFX_PCREATE = int (CCmdTarget::*)(CREATESTRUCT*);

struct AFX_MSGMAP_ENTRY {
    AfxSig sig;
    UINT id;              // command id, or window message number
    AFX_PCMD pfnCmd = nullptr;
    AFX_PUPDATE pfnUpdate = nullptr;
    AFX_PMSG pfnMsg = nullptr;
    AFX_PCREATE pfnCreate = nullptr;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    std::span<const AFX_MSGMAP_ENTRY> entries;
};

template <class T>
constexpr AFX_MSGMAP_ENTRY ON_COMMAND(UINT id, void (T::*handler)())
{
    return {AfxSig::Command, id, static_cast<AFX_PCMD>(handler)};
}
template <class T>
constexpr AFX_MSGMAP_ENTRY ON_UPDATE_COMMAND_UI(UINT id, void (T::*handler)(CCmdUI*))
{
    return {AfxSig::UpdateCommandUI, id, nullptr, static_cast<AFX_PUPDATE>(handler)};
}
template <class T>
constexpr AFX_MSGMAP_ENTRY ON_MESSAGE(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM))
{
    return {AfxSig::Message, message, nullptr, nullptr, static_cast<AFX_PMSG>(handler)};
}
template <class T>
constexpr AFX_MSGMAP_ENTRY ON_WM_CREATE(int (T::*handler)(CREATESTRUCT*))
{
    return {AfxSig::Create, WM_CREATE, nullptr, nullptr, nullptr, static_cast<AFX_PCREATE>(handler)};
}

// Notification codes of OnCmdMsg.
inline constexpr int CN_COMMAND = 0;
inline constexpr int CN_UPDATE_COMMAND_UI = -1;

// ---- Command targets -------------------------------------------------------------------------------
class CCmdTarget : public CObject {
public:
    // Looks for a handler of id in this object's map chain; for CN_COMMAND runs it, for
    // CN_UPDATE_COMMAND_UI runs the enabling handler with pExtra as its CCmdUI. TRUE when found.
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra);

    void BeginWaitCursor();
    void EndWaitCursor();

    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }

protected:
    // Finds the entry of the given kind and id in this object's map chain.
    const AFX_MSGMAP_ENTRY* FindEntry(AfxSig sig, UINT id) const;
};

// The enabling object handed to enabling handlers: for a menu item or a key's command.
class CCmdUI {
public:
    UINT m_nID = 0;
    BOOL m_bEnabled = TRUE;
    BOOL m_bEnableChanged = FALSE;   // an enabling handler answered

    virtual ~CCmdUI() = default;
    virtual void Enable(BOOL bOn = TRUE);
    // Asks target (normally the frame) for the state; when no enabling handler answers, the
    // command is enabled exactly when some handler exists for it.
    void DoUpdate(CCmdTarget* target);
};

// ---- Screen metrics --------------------------------------------------------------------------------
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
int GetSystemMetrics(int index);

namespace afxtest {
// The screen size that GetSystemMetrics reports (0, 0 restores the real one).
void SetScreenSize(int width, int height);
} // namespace afxtest
