#pragma once
#include "common/ProgressSink.h"
#include "transfer/BatchHost.h"
#include "transfer/UnfinishedUploads.h"

class FileListView;
class TfrmMain;

// The main window as the transfer commands see it: its connection, options, progress
// dialog, prompts, cursor and the two list rebuilds.
class MainTransferHost final : public BatchHost
{
public:
    explicit MainTransferHost(TfrmMain& form) : m_form(form) {}

    ServerSession& session() override;
    bool connected() const override;
    bool lowerCaseUpload() const override;
    QString localFolder() const override;
    ProgressSink& progress() override;
    void reportFtpError(const QString& message, const RemoteResult& result) override;
    void warn(const QString& text) override;
    ResumeAnswer askResume(const QString& text) override;
    bool askYesNo(const QString& text) override;
    const UnfinishedUploads* unfinishedUploads() const override { return &m_uploads; }
    QByteArray serverIdentity() const override;
    void setBusyCursor(bool busy) override;
    void listRemoteFiles() override;
    void listLocalFiles() override;
    void showFileError(const QString& text) override;
    ExistsAnswer askExists(const QString& text, bool canResume) override;
    std::optional<QString> askNewName(const QString& prompt, const QString& proposal) override;

private:
    TfrmMain& m_form;
    NoProgress m_noProgress;
    UnfinishedUploads m_uploads{UnfinishedUploads::defaultFilePath()};
};

// The selected rows of one of the main window's file lists.
class ListViewSelection final : public RowSelection
{
public:
    explicit ListViewSelection(FileListView& view) : m_view(view) {}

    int nextSelected(int after) const override;
    void deselect(int row) override;
    FileListRow row(int index) const override;

private:
    FileListView& m_view;
};
