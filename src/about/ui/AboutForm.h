#pragma once
#include <QDialog>

class QPushButton;

// The About box, shown modally from Help > About and centred over the main window.
class TfrmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* mainWindow = nullptr);

    QPushButton* btnOK = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};
