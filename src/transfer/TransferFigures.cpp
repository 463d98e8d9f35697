#include "transfer/TransferFigures.h"

std::optional<TransferFigures> FiguresForRun(qint64 runStart, qint64 bytesDone, qint64 bytesTotal,
                                             double elapsedSeconds)
{
    if (elapsedSeconds <= 0)
        return std::nullopt;
    TransferFigures figures;
    // A start past what is done (a caller that reset its count) counts from nothing.
    const qint64 start = runStart < 0 || runStart > bytesDone ? 0 : runStart;
    const qint64 moved = bytesDone - start;
    figures.bytesPerSecond = static_cast<double>(moved) / elapsedSeconds;
    if (figures.bytesPerSecond > 0) {
        const double seconds = static_cast<double>(bytesTotal - bytesDone) / figures.bytesPerSecond;
        // A file that grew past its listed size must not show a negative time, and a
        // crawling rate must not overflow the conversion.
        figures.secondsLeft = seconds <= 0      ? 0
                              : seconds >= 1e15 ? static_cast<qint64>(1e15)
                                                : static_cast<qint64>(seconds);
    }
    return figures;
}
