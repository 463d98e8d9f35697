#pragma once
#include <QList>
#include <QObject>
#include <QPointer>

class QEvent;
class QWidget;

// A click, key, shortcut, context-menu request or drag: what starts a command.
bool IsCommandInput(const QEvent* event);

// While a long operation runs on the connection it pumps events, and a click or key that
// reached the main window's commands then would start a second operation on a connection
// that carries an open file, or rebuild the list the batch is walking. For as long as it
// lives, this drops the user's clicks, keys, shortcuts and drags aimed at the main window,
// except on scroll bars and splitter handles. Other windows (the progress dialog with its
// Cancel button, message boxes) are untouched, and painting and resizing go on as usual.
class CommandLockout : public QObject
{
    Q_OBJECT
public:
    explicit CommandLockout(QWidget* mainWindow);
    ~CommandLockout() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool aimsAtMainWindow(QObject* target) const;

    QPointer<QWidget> m_mainWindow;
    QList<QPointer<QWidget>> m_greyedBars; // the toolbar and menu bar it disabled
};
