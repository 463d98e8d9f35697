#pragma once
#include "common/FileListModel.h"
#include "common/Prompter.h"
#include "ftp/RemoteHost.h"
#include "transfer/ui/MsgForm.h"

#include <QApplication>

#include <cstdio>

// What the benchmarks of remote commands share.

// The prompts of a benchmark run: the Yes/No question gets a fixed answer, and any box is a
// failure, printed so the run can be read.
class BenchPrompter final : public Prompter
{
public:
    explicit BenchPrompter(bool answerYes = false) : m_answerYes(answerYes) {}

    void messageBeep(unsigned int) override {}
    void message(const QString&, const QString& text, MessageIcon, const QString&) override
    {
        std::printf("message: %s\n", qPrintable(text));
        failed = true;
    }
    bool askYesNo(const QString&, const QString&, MessageIcon) override { return m_answerYes; }
    PromptAnswer askYesNoCancel(const QString&, const QString&, MessageIcon) override
    {
        return PromptAnswer::Cancel;
    }
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
    QString chooseOpenFile(const QString&, const QString&, const QString&) override { return {}; }
    QString chooseSaveFile(const QString&, const QString&, const QString&) override { return {}; }

    bool failed = false;

private:
    bool m_answerYes;
};

// The window around a remote command: the real progress dialog, the rows in a model, the
// header text; events are let through as the main window lets them through.
class BenchRemoteHost : public RemoteHost
{
public:
    explicit BenchRemoteHost(bool answerYes = false) : prompts(answerYes) {}

    Prompter& prompter() override { return prompts; }
    ProgressSink& progress() override { return dialog; }
    void setCursor(Cursor) override {}
    QString currentSiteName() const override { return QStringLiteral("Bench"); }
    void setConnectionStatus(const QString&) override {}
    void UpdateCommandState(bool) override {}
    void showConfigure() override {}
    FileListModel& remoteFiles() override { return files; }
    void setRemoteHeader(const QString& caption) override { header = caption; }
    void processEvents(bool userInput) override
    {
        QApplication::processEvents(userInput ? QEventLoop::AllEvents
                                              : QEventLoop::ExcludeUserInputEvents);
    }

    BenchPrompter prompts;
    TfrmMsg dialog;
    FileListModel files;
    QString header;
};
