#pragma once
#include "common/ProgressSink.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

class QLabel;
class QProgressBar;
class QPushButton;

// A one-line text that costs nothing to change: it keeps the latest text at once and shows
// it at the dialog's next paint, instead of laying itself out and asking for a repaint on
// every change as a QLabel does. The statistics change on every 4 KiB block.
class ValueLabel : public QWidget
{
    Q_OBJECT
public:
    explicit ValueLabel(QWidget* parent = nullptr);

    const QString& text() const { return m_text; }
    void setText(const QString& text);
    void clear() { setText(QString()); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QString m_announcedText; // the text assistive tools were last told of
};

// The progress dialog every long operation shows: a message line and, as asked, a bar and
// three statistics lines with a Cancel button. Never modal; the running operation keeps it
// alive by calling UpdateProgress, which pumps events.
class TfrmMsg : public QDialog, public ProgressSink
{
    Q_OBJECT
public:
    // `mainWindow` is the window the dialog centres on and its Qt parent; a QDialog with a
    // parent is still its own top-level window, kept above the main window.
    explicit TfrmMsg(QWidget* mainWindow = nullptr);
    ~TfrmMsg() override;

    void ShowProgress(const QString& message, const QString& title, bool showBar,
                      bool showStats) override;
    void UpdateProgress(int percent, qint64 bytesDone, qint64 bytesTotal,
                        double elapsedSeconds) override;
    void SetProgressPosition(int percent) override;
    void ContinueFrom(qint64 offset) override;
    void CloseProgress() override;
    void OfferCancel() override;

    void CancelBtnClick();
    // The message of the operation being shown (not the "Cancelling" note that may replace it).
    const QString& message() const { return m_message; }

    // The statistics texts. `decimalPoint` is the user's separator (the current locale's
    // when left out).
    static QString speedText(double bytesPerSecond, QChar decimalPoint);
    static QString speedText(double bytesPerSecond);
    static QString timeText(qint64 remainingSeconds);
    static QString bytesText(qint64 bytesDone, qint64 bytesTotal);

    QLabel* MsgLbl = nullptr;
    QProgressBar* ProgressBar = nullptr;
    ValueLabel* BytesLbl = nullptr;
    ValueLabel* TimeLbl = nullptr;
    ValueLabel* SpeedLbl = nullptr;
    QLabel* Prompt1 = nullptr;
    QLabel* Prompt2 = nullptr;
    QLabel* Prompt3 = nullptr;
    QPushButton* CancelBtn = nullptr;

    // Outer heights for the three layouts, and the spacing rules of the width.
    static constexpr int kStatsHeight = 220;
    static constexpr int kBarHeight = 115;
    static constexpr int kMessageHeight = 90;
    static constexpr int kMessageMargin = 60;
    static constexpr int kBarMargin = 40;
    // The statistics lines fit without a later resize for any file up to this size (shown
    // as "1073741824 KB of 1073741824 KB"); a larger one widens the dialog when it starts.
    static constexpr qint64 kFittedTotal = qint64(1) << 40;
    // The Cancel button's top under the statistics, and its gap below the message or bar
    // when it is offered without them.
    static constexpr int kCancelTop = 164;
    static constexpr int kOfferedCancelGap = 11;
    // Painting and event pumping are throttled so a transfer of 4 KiB blocks is not
    // dominated by its own progress report; a Cancel click still lands within one pump.
    static constexpr qint64 kRepaintIntervalMs = 16;
    static constexpr qint64 kPumpIntervalMs = 5;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void layOutForMessage(const QString& message);
    // The narrowest outer width whose statistics lines show a file of `bytesTotal` whole.
    int statisticsWidth(qint64 bytesTotal) const;
    void centreOnMainWindow();
    void repaintNow();
    void pumpEvents();

    QElapsedTimer m_sinceRepaint;
    // Paints values that arrived too soon after the last paint, once the interval is over,
    // so the last block's figures never stay unpainted while the caller waits on the server.
    QTimer m_pendingRepaint;
    QElapsedTimer m_sincePump;
    bool m_showStats = false;
    QString m_message;
    qint64 m_fittedTotal = kFittedTotal; // the largest total the layout has room for
    QChar m_decimalPoint = QLatin1Char('.');
    qint64 m_shownRemaining = -1; // the time line's value, so it is formatted only on change
    qint64 m_runStart = 0;        // bytes an earlier run of this transfer had already moved
};
