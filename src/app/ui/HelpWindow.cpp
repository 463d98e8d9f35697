#include "app/ui/HelpWindow.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setAccessibleName(QStringLiteral("ZUL-FTP Help"));
    setWindowTitle(QStringLiteral("ZUL-FTP Help"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    HelpBrowser = new QTextBrowser(this);
    HelpBrowser->setObjectName(QStringLiteral("HelpBrowser"));
    HelpBrowser->setAccessibleName(QStringLiteral("Help text"));
    // Links to web pages open nowhere: the manual is read inside this window only.
    HelpBrowser->setOpenExternalLinks(false);
    HelpBrowser->setOpenLinks(true);
    layout->addWidget(HelpBrowser);
    connect(HelpBrowser, &QTextBrowser::sourceChanged, this, &HelpWindow::anchorFollowed);
    resize(640, 520);
}

void HelpWindow::showContext(const QString& helpFile, unsigned int context)
{
    QUrl url = QUrl::fromLocalFile(helpFile);
    url.setFragment(QString::number(context));
    // The file ends in ".hlp", so say it is HTML rather than let the browser guess.
    HelpBrowser->setSource(url, QTextDocument::HtmlResource);
    m_file = helpFile;
    m_context = context;
    show();
    raise();
    activateWindow();
}

void HelpWindow::anchorFollowed(const QUrl& url)
{
    bool ok = false;
    const unsigned int context = url.fragment().toUInt(&ok);
    if (ok)
        m_context = context;
}
