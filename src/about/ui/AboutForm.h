#pragma once
#include <QDialog>

class Prompter;
class QFrame;
class QLabel;
class QPushButton;

// The About box, shown modally from Help > About and centred over the main window: the
// program's name, the version read from its executable file, and the maker's web page.
class TfrmAbout : public QDialog
{
    Q_OBJECT
public:
    // `executablePath` is the file whose version is shown; empty: the running program's.
    explicit TfrmAbout(Prompter& prompter, QWidget* mainWindow = nullptr,
                       const QString& executablePath = QString());

    void FormCreate(const QString& executablePath);
    void lblWebClick();

    static constexpr char kWebAddress[] = "https://tarnwick.example/zulftp/";

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblNotice = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* lblWeb = nullptr;
    QPushButton* btnOK = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();

    Prompter& m_prompter;
};
