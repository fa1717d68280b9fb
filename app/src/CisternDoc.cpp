// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CisternDoc.h"

#include "platform/afxext.h"

const CRuntimeClass CCisternDoc::classCCisternDoc{"CCisternDoc", &AfxCreateObject<CCisternDoc>,
                                                  &CDocument::classCDocument};

CCisternDoc::CCisternDoc() = default;
CCisternDoc::~CCisternDoc() = default;

BOOL CCisternDoc::OnNewDocument()
{
    if (!CDocument::OnNewDocument())
        return FALSE;
    if (auto* view = dynamic_cast<CEditView*>(GetFirstView()))
        view->SetWindowText(nullptr);
    return TRUE;
}

void CCisternDoc::Serialize(CArchive& ar)
{
    if (auto* view = dynamic_cast<CEditView*>(GetFirstView()))
        view->SerializeRaw(ar);
}
