#pragma once
#include <QtGlobal>

#include <optional>

// The rate and time left the progress dialog shows for one run of a transfer.
struct TransferFigures
{
    double bytesPerSecond = 0;
    qint64 secondsLeft = 0;
};

// Figures for a run that started at `runStart` bytes (a resumed transfer starts at what an
// earlier run brought) and has reached `bytesDone` of `bytesTotal` after `elapsedSeconds`.
// Only the bytes this run moved count: the earlier part took no time now. None while no time
// has passed yet.
std::optional<TransferFigures> FiguresForRun(qint64 runStart, qint64 bytesDone, qint64 bytesTotal,
                                             double elapsedSeconds);
