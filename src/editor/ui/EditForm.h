#pragma once
#include <QDialog>

// The text editor window for a remote file, shown modally by the Open command.
class TfrmEdit : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmEdit(QWidget* mainWindow = nullptr);
};
