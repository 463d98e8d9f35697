#include "queue/ui/QueuePane.h"

#include "queue/QueueModel.h"
#include "queue/TransferQueue.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
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
    btnQueueRemoveFinished = button("btnQueueRemoveFinished", tr("Remove &Finished"));
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

void QueuePane::addLogLine(const QString& text)
{
    m_pendingLog << QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz ")) + text;
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
    m_pendingLog.clear();
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
