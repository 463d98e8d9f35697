#include "transfer/ui/MsgForm.h"

#include "common/CancelFlag.h"
#include "transfer/TransferFigures.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

namespace {

// A value label's text is what an assistive tool reads; the description says what it is.
class ValueLabelAccessible : public QAccessibleWidget
{
public:
    explicit ValueLabelAccessible(ValueLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {}
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<ValueLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* valueLabelFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("ValueLabel") && object && object->isWidgetType())
        return new ValueLabelAccessible(static_cast<ValueLabel*>(object));
    return nullptr;
}

ValueLabel* makeValueLabel(QWidget* parent, const char* name, const QString& description,
                           QRect geometry)
{
    auto* label = new ValueLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAccessibleDescription(description);
    label->setGeometry(geometry);
    return label;
}

// A small text built without allocating, for the statistics lines written on every block.
class LineBuffer
{
public:
    void append(std::string_view text)
    {
        const size_t room = sizeof m_data - m_length;
        const size_t count = std::min(text.size(), room);
        std::memcpy(m_data + m_length, text.data(), count);
        m_length += count;
    }
    void appendNumber(long long value)
    {
        const auto written = std::to_chars(m_data + m_length, m_data + sizeof m_data, value);
        if (written.ec == std::errc())
            m_length = static_cast<size_t>(written.ptr - m_data);
    }
    void appendFixed2(double value)
    {
        const auto written = std::to_chars(m_data + m_length, m_data + sizeof m_data, value,
                                           std::chars_format::fixed, 2);
        if (written.ec == std::errc())
            m_length = static_cast<size_t>(written.ptr - m_data);
    }
    void padTo(size_t width)
    {
        while (m_length < width && m_length < sizeof m_data)
            m_data[m_length++] = ' ';
    }
    QString toString() const
    {
        return QString::fromLatin1(m_data, static_cast<qsizetype>(m_length));
    }

private:
    char m_data[400]; // a double's fixed form has at most 309 digits before the point
    size_t m_length = 0;
};

// The user's decimal separator; taken once per dialog layout, not per block.
QChar localeDecimalPoint()
{
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 ? point.at(0) : QLatin1Char('.');
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& accessible, QRect geometry,
                  const QString& text = {})
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAccessibleName(accessible);
    label->setGeometry(geometry);
    return label;
}

} // namespace

ValueLabel::ValueLabel(QWidget* parent) : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(&valueLabelFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void ValueLabel::setText(const QString& text)
{
    m_text = text;
}

void ValueLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
    // Told at the pace of painting, not of every block, so a screen reader is not flooded.
    if (m_announcedText != m_text) {
        m_announcedText = m_text;
        QAccessibleEvent changed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

TfrmMsg::TfrmMsg(QWidget* mainWindow) : QDialog(mainWindow)
{
    setObjectName(QStringLiteral("frmMsg"));
    setAccessibleName(QStringLiteral("Progress"));
    // A title but no close box or system menu: only the running operation ends the dialog.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowStaysOnTopHint);
    setModal(false);
    // The dialog is laid out for an 8-point font; the family is the desktop's own.
    QFont small = font();
    small.setPointSize(8);
    setFont(small);
    createControls();
    setFixedSize(347, kStatsHeight);
    m_sinceRepaint.start();
    m_pendingRepaint.setSingleShot(true);
    m_pendingRepaint.setInterval(static_cast<int>(kRepaintIntervalMs));
    connect(&m_pendingRepaint, &QTimer::timeout, this, &TfrmMsg::repaintNow);
    m_sincePump.start();
}

TfrmMsg::~TfrmMsg() = default;

void TfrmMsg::createControls()
{
    MsgLbl = makeLabel(this, "MsgLbl", QString(), QRect(0, 24, 347, 21));
    // The message shows state: its text is its accessible name.
    MsgLbl->setAccessibleDescription(QStringLiteral("Message"));
    MsgLbl->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setAccessibleName(QStringLiteral("Progress"));
    ProgressBar->setGeometry(63, 52, 221, 17);
    ProgressBar->setRange(0, 100);
    // The percentage in figures as well: a long transfer's bar moves too little to read.
    ProgressBar->setTextVisible(true);
    ProgressBar->hide();

    BytesLbl = makeValueLabel(this, "BytesLbl", QStringLiteral("Bytes transferred"),
                              QRect(156, 86, 154, 17));
    TimeLbl =
        makeValueLabel(this, "TimeLbl", QStringLiteral("Time remaining"), QRect(156, 132, 154, 17));
    SpeedLbl =
        makeValueLabel(this, "SpeedLbl", QStringLiteral("Transfer rate"), QRect(156, 109, 154, 17));
    Prompt1 = makeLabel(this, "Prompt1", QStringLiteral("Bytes Transferred"), QRect(62, 87, 86, 13),
                        QStringLiteral("Bytes Transferred:"));
    Prompt2 = makeLabel(this, "Prompt2", QStringLiteral("Transfer Rate"), QRect(62, 110, 68, 13),
                        QStringLiteral("Transfer Rate:"));
    Prompt3 = makeLabel(this, "Prompt3", QStringLiteral("Time Remaining"), QRect(62, 132, 79, 13),
                        QStringLiteral("Time Remaining:"));
    // The laid-out widths fit the original typeface; let the captions take what this one
    // needs so they are not clipped (the values move right with them).
    for (QLabel* prompt : {Prompt1, Prompt2, Prompt3})
        prompt->resize(std::max(prompt->width(), prompt->sizeHint().width()), prompt->height());

    CancelBtn = new QPushButton(QStringLiteral("&Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setAccessibleName(QStringLiteral("Cancel"));
    CancelBtn->setGeometry(137, kCancelTop, 73, 21);
    CancelBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this, &TfrmMsg::CancelBtnClick);
}

void TfrmMsg::ShowProgress(const QString& message, const QString& title, bool showBar,
                           bool showStats)
{
    CancelBtn->setEnabled(!CancelRequested);
    m_decimalPoint = localeDecimalPoint();
    m_shownRemaining = -1;
    m_runStart = 0;
    MsgLbl->setText(message);
    m_message = message;
    setWindowTitle(title);
    ProgressBar->setVisible(showBar);
    m_showStats = showStats;
    // The smaller heights cut the statistics rows and Cancel off at the window's lower edge;
    // window frames differ between desktops, so they are hidden rather than left to clipping.
    for (QWidget* w : std::initializer_list<QWidget*>{Prompt1, Prompt2, Prompt3, BytesLbl, SpeedLbl,
                                                      TimeLbl, CancelBtn})
        w->setVisible(showStats);
    const int height = showStats ? kStatsHeight : (showBar ? kBarHeight : kMessageHeight);
    BytesLbl->clear();
    SpeedLbl->clear();
    TimeLbl->clear();
    layOutForMessage(message);
    setFixedHeight(height);
    centreOnMainWindow();
    // A folder of small files starts an item every millisecond or two; painting and pumping
    // for each one cost as much as sending it. The first message is painted at once; later
    // ones at the pace of UpdateProgress, and the pending repaint shows the latest one.
    if (!isVisible()) {
        show();
        repaintNow();
    } else if (m_sinceRepaint.elapsed() >= kRepaintIntervalMs) {
        repaintNow();
    } else if (!m_pendingRepaint.isActive()) {
        m_pendingRepaint.start();
    }
    if (m_sincePump.elapsed() >= kPumpIntervalMs)
        pumpEvents();
}

void TfrmMsg::layOutForMessage(const QString& message)
{
    const int textWidth = QFontMetrics(MsgLbl->font()).horizontalAdvance(message);
    int width = std::max(textWidth + kMessageMargin, ProgressBar->width() + kBarMargin);
    // A short message alone would cut the statistics ("1048576 KB of 104857").
    if (m_showStats)
        width = std::max(width, statisticsWidth(m_fittedTotal));
    setFixedWidth(width);
    MsgLbl->setGeometry(2, MsgLbl->y(), width - 4, MsgLbl->height());
    const int barLeft = (width - ProgressBar->width()) / 2;
    ProgressBar->move(barLeft, ProgressBar->y());
    for (QLabel* prompt : {Prompt1, Prompt2, Prompt3})
        prompt->move(barLeft, prompt->y());
    const int valueLeft = Prompt1->x() + Prompt1->width() + 8;
    // The values run to the right edge, so a wider caption never clips "N KB of M KB".
    for (ValueLabel* value : {BytesLbl, TimeLbl, SpeedLbl})
        value->setGeometry(valueLeft, value->y(), std::max(0, width - valueLeft - 4),
                           value->height());
    CancelBtn->move((width - CancelBtn->width()) / 2, kCancelTop);
}

int TfrmMsg::statisticsWidth(qint64 bytesTotal) const
{
    const QFontMetrics metrics(BytesLbl->font());
    constexpr qint64 kLongestTime = 99999 * 3600 + 59 * 60 + 59;
    constexpr double kFastestRate = 10e9; // bytes per second
    const int widest = std::max({metrics.horizontalAdvance(bytesText(bytesTotal, bytesTotal)),
                                 metrics.horizontalAdvance(timeText(kLongestTime)),
                                 metrics.horizontalAdvance(speedText(kFastestRate))});
    // The values start right of the prompts, which line up with the centred bar, so the room
    // for them grows by half of any added width: solve width - valueLeft - 4 >= widest.
    const int fromBarLeft = Prompt1->width() + 8 + 4 + widest;
    return 2 * fromBarLeft - ProgressBar->width() + 1;
}

void TfrmMsg::centreOnMainWindow()
{
    const QWidget* main = parentWidget();
    if (!main)
        return;
    const QRect outer = main->frameGeometry();
    move(outer.left() + (outer.width() - width()) / 2,
         outer.top() + (outer.height() - height()) / 2);
}

void TfrmMsg::UpdateProgress(int percent, qint64 bytesDone, qint64 bytesTotal,
                             double elapsedSeconds)
{
    SetProgressPosition(percent);
    if (const auto figures = FiguresForRun(m_runStart, bytesDone, bytesTotal, elapsedSeconds)) {
        SpeedLbl->setText(speedText(figures->bytesPerSecond, m_decimalPoint));
        if (figures->secondsLeft != m_shownRemaining) {
            TimeLbl->setText(timeText(figures->secondsLeft));
            m_shownRemaining = figures->secondsLeft;
        }
    }
    if (m_showStats && bytesTotal > m_fittedTotal) {
        m_fittedTotal = bytesTotal;
        layOutForMessage(m_message);
        centreOnMainWindow();
    }
    BytesLbl->setText(bytesText(bytesDone, bytesTotal));
    if (m_sinceRepaint.elapsed() >= kRepaintIntervalMs)
        repaintNow();
    else if (!m_pendingRepaint.isActive())
        m_pendingRepaint.start();
    if (m_sincePump.elapsed() >= kPumpIntervalMs)
        pumpEvents();
}

void TfrmMsg::SetProgressPosition(int percent)
{
    // The control's range is 0 to 100, and a value outside it leaves the bar at that end.
    const int value = std::clamp(percent, 0, 100);
    if (ProgressBar->value() == value)
        return;
    // QProgressBar repaints itself at once on a visible change, outside the throttle: on a
    // tree of small files that was two bar paints per file (0 % and 100 %). Enabling updates
    // again asks for a paint at the next pump instead.
    ProgressBar->setUpdatesEnabled(false);
    ProgressBar->setValue(value);
    ProgressBar->setUpdatesEnabled(true);
}

void TfrmMsg::ContinueFrom(qint64 offset)
{
    m_runStart = offset;
}

void TfrmMsg::CloseProgress()
{
    hide();
}

void TfrmMsg::OfferCancel()
{
    // Without the statistics rows the button sits right under the message (or the bar), still
    // inside the smaller window.
    if (!m_showStats) {
        const QWidget* above = ProgressBar->isVisible() ? static_cast<QWidget*>(ProgressBar)
                                                        : static_cast<QWidget*>(MsgLbl);
        CancelBtn->move(CancelBtn->x(), above->geometry().bottom() + 1 + kOfferedCancelGap);
    }
    CancelBtn->setEnabled(!CancelRequested);
    CancelBtn->show();
    repaintNow();
}

void TfrmMsg::CancelBtnClick()
{
    MsgLbl->setText(QStringLiteral("Cancelling Transfer..."));
    CancelBtn->setEnabled(false);
    CancelRequested = true;
    repaintNow();
    pumpEvents();
}

QString TfrmMsg::speedText(double bytesPerSecond, QChar decimalPoint)
{
    // "%-6.2f KB/sec.": two decimals, left-aligned in at least six characters.
    LineBuffer line;
    line.appendFixed2(bytesPerSecond / 1024.0);
    line.padTo(6);
    line.append(" KB/sec.");
    QString text = line.toString();
    if (decimalPoint != QLatin1Char('.')) {
        const qsizetype point = text.indexOf(QLatin1Char('.'));
        if (point >= 0)
            text[point] = decimalPoint;
    }
    return text;
}

QString TfrmMsg::speedText(double bytesPerSecond)
{
    return speedText(bytesPerSecond, localeDecimalPoint());
}

QString TfrmMsg::timeText(qint64 remainingSeconds)
{
    // "%.2d:%.2d:%.2d": at least two digits each, hours in full however many.
    const long long parts[] = {remainingSeconds / 3600, (remainingSeconds % 3600) / 60,
                               (remainingSeconds % 3600) % 60};
    LineBuffer line;
    bool first = true;
    for (long long part : parts) {
        if (!first)
            line.append(":");
        first = false;
        if (part >= 0 && part < 10)
            line.append("0");
        line.appendNumber(part);
    }
    return line.toString();
}

QString TfrmMsg::bytesText(qint64 bytesDone, qint64 bytesTotal)
{
    LineBuffer line;
    line.appendNumber(bytesDone / 1024);
    line.append(" KB of ");
    line.appendNumber(bytesTotal / 1024);
    line.append(" KB");
    return line.toString();
}

void TfrmMsg::repaintNow()
{
    if (isVisible())
        repaint();
    m_sinceRepaint.restart();
    m_pendingRepaint.stop();
}

void TfrmMsg::pumpEvents()
{
    QCoreApplication::processEvents();
    m_sincePump.restart();
}

void TfrmMsg::keyPressEvent(QKeyEvent* event)
{
    // Escape is what users press to stop a dialog's work: it acts as Cancel where Cancel is
    // offered, and never merely hides the dialog while the operation runs on.
    if (event->key() == Qt::Key_Escape) {
        if (CancelBtn->isVisible() && CancelBtn->isEnabled())
            CancelBtnClick();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmMsg::closeEvent(QCloseEvent* event)
{
    // There is no close box; a close the window system asks for (Alt+F4) is refused, while
    // the operation's own CloseProgress hides the dialog without a close event.
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
