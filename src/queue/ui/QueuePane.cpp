#include "queue/ui/QueuePane.h"

#include "queue/QueueModel.h"
#include "queue/TransferQueue.h"

#include <QAction>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTextBlock>
#include <QVBoxLayout>

namespace {
// The log is for looking back a while, not a record: older lines make way.
constexpr int kLogLines = 5000;
// Four workers on small files log a few thousand lines a second; added one by one, each
// line's layout (and the oldest line's removal) cost the window a 10th of its time. Lines
// are gathered and added together this often.
constexpr int kLogFlushMs = 20;
} // namespace

QueuePane::QueuePane(QWidget* parent) : QTabWidget(parent)
{
    setObjectName(QStringLiteral("QueuePane"));
    setAccessibleName(tr("Transfers and message log"));
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    QueueList = new QTableView(page);
    QueueList->setObjectName(QStringLiteral("QueueList"));
    QueueList->setAccessibleName(tr("Transfer queue"));
    QueueList->setSelectionBehavior(QAbstractItemView::SelectRows);
    QueueList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QueueList->verticalHeader()->hide();
    QueueList->horizontalHeader()->setStretchLastSection(true);
    QueueList->setWordWrap(false);
    auto* buttons = new QHBoxLayout;
    const auto button = [&](const char* name, const QString& caption) {
        auto* made = new QPushButton(caption, page);
        made->setObjectName(QString::fromLatin1(name));
        buttons->addWidget(made);
        return made;
    };
    btnQueueCancel = button("btnQueueCancel", tr("&Cancel"));
    btnQueueCancelAll = button("btnQueueCancelAll", tr("Cancel &All"));
    btnQueueRetry = button("btnQueueRetry", tr("&Retry"));
    btnQueueRemove = button("btnQueueRemove", tr("Re&move"));
    btnQueueRemove->setAccessibleDescription(
        tr("Removes the selected transfers that are not running, with what a stopped upload "
           "left on the server"));
    btnQueueRemoveFinished = button("btnQueueRemoveFinished", tr("Remove &Finished"));
    btnQueueShowLog = button("btnQueueShowLog", tr("Show in &Log"));
    btnQueueShowLog->setAccessibleDescription(
        tr("Shows the message log lines of the selected transfer's latest try"));
    // The same from the list's context menu and from the keyboard while the list has focus.
    actQueueShowLog = new QAction(tr("Show in &Log"), QueueList);
    actQueueShowLog->setObjectName(QStringLiteral("actQueueShowLog"));
    actQueueShowLog->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    actQueueShowLog->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QueueList->addAction(actQueueShowLog);
    QueueList->setContextMenuPolicy(Qt::ActionsContextMenu);
    buttons->addStretch(1);
    layout->addWidget(QueueList, 1);
    layout->addLayout(buttons);
    addTab(page, tr("Queue"));

    txtLog = new QPlainTextEdit(this);
    txtLog->setObjectName(QStringLiteral("txtLog"));
    txtLog->setAccessibleName(tr("Message log"));
    txtLog->setReadOnly(true);
    // Read-only but selectable and copyable, by mouse and by keyboard.
    txtLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtLog->setMaximumBlockCount(kLogLines);
    txtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    addTab(txtLog, tr("Log"));
    m_logFlush.setSingleShot(true);
    m_logFlush.setInterval(kLogFlushMs);
    connect(&m_logFlush, &QTimer::timeout, this, &QueuePane::flushLog);

    connect(btnQueueCancel, &QPushButton::clicked, this, &QueuePane::cancelSelected);
    connect(btnQueueCancelAll, &QPushButton::clicked, this, [this] {
        if (m_queue)
            m_queue->cancelAll();
    });
    connect(btnQueueRetry, &QPushButton::clicked, this, &QueuePane::retrySelected);
    connect(btnQueueRemove, &QPushButton::clicked, this, [this] {
        if (m_queue)
            m_queue->remove(selectedIds());
    });
    connect(btnQueueShowLog, &QPushButton::clicked, this, &QueuePane::showSelectedInLog);
    connect(actQueueShowLog, &QAction::triggered, this, &QueuePane::showSelectedInLog);
    connect(btnQueueRemoveFinished, &QPushButton::clicked, this, [this] {
        if (m_queue)
            m_queue->removeFinished();
    });
}

void QueuePane::setQueue(TransferQueue* queue)
{
    m_queue = queue;
    QueueModel* old = m_model;
    m_model = queue ? new QueueModel(*queue, this) : nullptr;
    QueueList->setModel(m_model);
    delete old;
    if (m_queue)
        connect(m_queue, &TransferQueue::logLine, this, &QueuePane::addLogLine);
}

void QueuePane::addLogLine(const QString& text, int attempt)
{
    m_pendingLog << QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz ")) + text;
    m_pendingAttempts << attempt;
    if (!m_logFlush.isActive())
        m_logFlush.start();
}

void QueuePane::flushLog()
{
    m_logFlush.stop();
    if (m_pendingLog.isEmpty())
        return;
    // One edit for all of them: the document lays out and trims once.
    txtLog->appendPlainText(m_pendingLog.join(QLatin1Char('\n')));
    // Each line's try marks its blocks (a reply may span several), counted from the end:
    // trimming takes from the top.
    QTextBlock block = txtLog->document()->lastBlock();
    for (qsizetype i = m_pendingLog.size() - 1; i >= 0 && block.isValid(); --i) {
        for (qsizetype rows = m_pendingLog[i].count(QLatin1Char('\n')) + 1;
             rows > 0 && block.isValid(); --rows) {
            if (m_pendingAttempts[i] != 0)
                block.setUserState(m_pendingAttempts[i]);
            block = block.previous();
        }
    }
    m_pendingLog.clear();
    m_pendingAttempts.clear();
}

void QueuePane::showSelectedInLog()
{
    const QModelIndex current = QueueList->currentIndex();
    const auto item = m_queue && m_model && current.isValid()
                          ? m_queue->item(m_model->idAt(current.row()))
                          : std::nullopt;
    flushLog();
    setCurrentWidget(txtLog);
    txtLog->setFocus();
    if (!item || item->logAttempt == 0)
        return;
    // Other connections' lines may come between; the selection spans the try from its first
    // line to its last, which is where its failure shows.
    QTextBlock first;
    QTextBlock last;
    for (QTextBlock block = txtLog->document()->begin(); block.isValid(); block = block.next()) {
        if (block.userState() != item->logAttempt)
            continue;
        if (!first.isValid())
            first = block;
        last = block;
    }
    if (!first.isValid())
        return; // its lines have made way for newer ones
    QTextCursor cursor(first);
    cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    txtLog->setTextCursor(cursor);
    txtLog->ensureCursorVisible();
}

QList<quint64> QueuePane::selectedIds() const
{
    QList<quint64> ids;
    if (!m_model)
        return ids;
    for (const QModelIndex& index : QueueList->selectionModel()->selectedRows())
        ids << m_model->idAt(index.row());
    return ids;
}

void QueuePane::cancelSelected()
{
    for (const quint64 id : selectedIds())
        m_queue->cancel(id);
}

void QueuePane::retrySelected()
{
    for (const quint64 id : selectedIds())
        m_queue->retry(id);
}
