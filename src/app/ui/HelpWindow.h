#pragma once
#include <QWidget>

class QTextBrowser;

// The program's help viewer: one window showing the HTML help file at a context number.
class HelpWindow : public QWidget
{
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* owner = nullptr);

    // Loads `helpFile` (when not already shown) and scrolls to the topic `context`.
    void showContext(const QString& helpFile, unsigned int context);
    // The context number now shown, or 0 before the first topic.
    unsigned int currentContext() const { return m_context; }
    QString currentFile() const { return m_file; }

    QTextBrowser* HelpBrowser = nullptr;

private:
    void anchorFollowed(const QUrl& url);

    QString m_file;
    unsigned int m_context = 0;
};
