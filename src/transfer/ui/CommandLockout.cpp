#include "transfer/ui/CommandLockout.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenuBar>
#include <QScrollBar>
#include <QSplitterHandle>
#include <QToolBar>
#include <QWidget>

CommandLockout::CommandLockout(QWidget* mainWindow) : m_mainWindow(mainWindow)
{
    qApp->installEventFilter(this);
    // Clicks on the toolbar and the menus are dropped meanwhile; they must not look as if
    // they would work.
    if (!mainWindow)
        return;
    for (QWidget* bar : mainWindow->findChildren<QWidget*>()) {
        if ((qobject_cast<QToolBar*>(bar) || qobject_cast<QMenuBar*>(bar)) && bar->isEnabled()) {
            bar->setEnabled(false);
            m_greyedBars.append(bar);
        }
    }
}

CommandLockout::~CommandLockout()
{
    qApp->removeEventFilter(this);
    for (const QPointer<QWidget>& bar : m_greyedBars)
        if (bar)
            bar->setEnabled(true);
}

bool CommandLockout::aimsAtMainWindow(QObject* target) const
{
    if (auto* action = qobject_cast<QAction*>(target)) {
        // Menu items and toolbar actions belong to the main window; their shortcuts fire
        // without any widget of it being the receiver.
        for (QObject* owner = action->parent(); owner; owner = owner->parent()) {
            if (owner == m_mainWindow)
                return true;
        }
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(target);
    if (!widget || widget->window() != m_mainWindow)
        return false;
    for (QWidget* w = widget; w && w != m_mainWindow; w = w->parentWidget()) {
        // Looking around the lists and resizing the panes change nothing the batch uses.
        if (qobject_cast<QScrollBar*>(w) || qobject_cast<QSplitterHandle*>(w))
            return false;
    }
    return true;
}

bool IsCommandInput(const QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

bool CommandLockout::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_mainWindow || !IsCommandInput(event))
        return false;
    return aimsAtMainWindow(watched);
}
