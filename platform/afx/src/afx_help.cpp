// SPDX-License-Identifier: GPL-3.0-or-later
// Help: the program's own short manual in a window of its own, and What's This texts.
#include "platform/afxhelp.h"
#include "platform/afxres.h"
#include "platform/resdata.h"

#include <QDialog>
#include <QFile>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {
QPointer<QDialog> g_helpWindow;
} // namespace

void AfxShowHelp(QWidget* parent)
{
    if (g_helpWindow == nullptr) {
        auto* window = new QDialog(parent);
        window->setAttribute(Qt::WA_DeleteOnClose);
        const char* title = AfxLoadString(AFX_IDS_APP_TITLE);
        window->setWindowTitle(QString::fromUtf8(title ? title : "") + QStringLiteral(" Help"));
        auto* browser = new QTextBrowser(window);
        browser->setObjectName(QStringLiteral("helpBrowser"));
        browser->setOpenExternalLinks(false);
        QFile manual(QString::fromUtf8(AfxGetIdentity().helpPage));
        if (manual.open(QIODevice::ReadOnly))
            browser->setHtml(QString::fromUtf8(manual.readAll()));
        else
            browser->setPlainText(QStringLiteral("No help is available."));
        auto* layout = new QVBoxLayout(window);
        layout->addWidget(browser);
        window->resize(560, 480);
        g_helpWindow = window;
    }
    g_helpWindow->show();
    g_helpWindow->raise();
    g_helpWindow->activateWindow();
}

void AfxSetWhatsThis(QWidget* widget, LPCSTR text)
{
    if (widget != nullptr)
        widget->setWhatsThis(QString::fromUtf8(text ? text : ""));
}
