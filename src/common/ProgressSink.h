#pragma once
#include <QString>
#include <QtGlobal>

// What a long operation tells the progress dialog. Core code (listings, transfers, deletes)
// talks to this interface so it stays free of widgets; the dialog implements it, tests may
// record the calls. Both ShowProgress and UpdateProgress pump pending window events, so
// CancelRequested may change across them.
class ProgressSink
{
public:
    virtual ~ProgressSink() = default;

    // Lays the dialog out for `message`, shows it if hidden, blanks the statistics.
    virtual void ShowProgress(const QString& message, const QString& title, bool showBar,
                              bool showStats) = 0;
    // Moves the bar and rewrites the statistics. Callers without a transfer pass 0, 0, 0.
    virtual void UpdateProgress(int percent, qint64 bytesDone, qint64 bytesTotal,
                                double elapsedSeconds) = 0;
    // The transfer about to run continues at `offset` bytes that an earlier run moved, so
    // the rate and time left count only what follows. ShowProgress sets it back to 0.
    virtual void ContinueFrom(qint64 offset) { (void)offset; }
    // Sets the bar directly, as batches do before the first item and after each one.
    virtual void SetProgressPosition(int percent) = 0;
    // Hides the dialog (the window's ordinary close); harmless when already hidden.
    virtual void CloseProgress() = 0;
    // Shows the Cancel button in a layout without statistics (a listing that takes long),
    // until the next ShowProgress.
    virtual void OfferCancel() {}
};

// Stands in while no progress dialog exists yet (start-up, some tests): shows nothing.
class NoProgress final : public ProgressSink
{
public:
    void ShowProgress(const QString&, const QString&, bool, bool) override {}
    void UpdateProgress(int, qint64, qint64, double) override {}
    void SetProgressPosition(int) override {}
    void CloseProgress() override {}
};
