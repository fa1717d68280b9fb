// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The log widget over a document of its own, as the edit view puts them together.
#include "platform/logdocument.h"
#include "platform/logtextwidget.h"

struct LogOfWidget {
    LogDocument doc;
};

struct LogWidget : LogOfWidget, CLogTextWidget {
    LogWidget() : CLogTextWidget(doc) {}
    void append(const char* bytes, qsizetype length) { doc.append(bytes, length); }
    void clear() { doc.clear(); }
    qint64 size() const { return doc.size(); }
};
