// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The log document: no data of its own; the log's file form is the view's text as plain bytes.
#include "platform/afxwin.h"

class CCisternDoc : public CDocument {
public:
    CCisternDoc();
    ~CCisternDoc() override;
    BOOL OnNewDocument() override;
    void Serialize(CArchive& ar) override;

    static const CRuntimeClass classCCisternDoc;
};
