#pragma once
#include <QLabel>

// The strip above a file list that names its folder and shows, by its colours, whether the
// pane is the active one. Clicking it makes the pane active.
class PaneHeader : public QLabel
{
    Q_OBJECT
public:
    explicit PaneHeader(const QString& caption, QWidget* parent = nullptr);

    static constexpr int kHeight = 15;

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
