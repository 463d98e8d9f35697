#include "app/ui/PaneHeader.h"

#include <QMouseEvent>

PaneHeader::PaneHeader(const QString& caption, QWidget* parent) : QLabel(caption, parent)
{
    setFixedHeight(kHeight);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setAutoFillBackground(true);
    setTextFormat(Qt::PlainText);
    // A long folder path must not widen the pane; the strip cuts it off instead.
    setMinimumWidth(1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
}

void PaneHeader::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT clicked();
    QLabel::mousePressEvent(event);
}
