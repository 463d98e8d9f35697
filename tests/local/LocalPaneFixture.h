#pragma once
// A main window on a scratch folder, for the tests of the local pane's commands.
#include "LocalTestFs.h"
#include "ScriptedPrompter.h"
#include "app/CommandState.h"
#include "app/ui/FTPMain.h"
#include "app/ui/FileListView.h"
#include "app/ui/PaneHeader.h"
#include "common/FileListModel.h"
#include "common/SortState.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace localtest {

// Everything a test of the local pane starts from: a private data folder and home folder,
// a scratch folder `root` (canonical path) to list, and the main window standing on it.
class LocalPaneFixture
{
public:
    LocalPaneFixture()
    {
        qputenv("ZULFTP_HOME", m_data.path().toUtf8());
        qputenv("HOME", m_home.path().toUtf8());
        RenameInProgress = false;
        LocalFocused = false;
        RemoteFocused = false;
        root = QFileInfo(m_scratch.path()).canonicalFilePath();
        window = std::make_unique<TfrmMain>(prompter);
        // The stored sort code has just been read; the tests list by name.
        LocalSort = 1;
        prompter.reset();
    }
    ~LocalPaneFixture()
    {
        window.reset();
        QDir::setCurrent(QDir::tempPath());
        unlockTree(m_scratch.path());
    }

    QString path(const QString& name) const { return root + QLatin1Char('/') + name; }
    QString home() const { return QFileInfo(m_home.path()).canonicalFilePath(); }

    FileListModel& model() const { return *window->LocalFilesModel; }
    FileListView& list() const { return *window->LocalFiles; }

    QStringList rowNames() const
    {
        QStringList names;
        for (const FileListRow& row : model().rows())
            names << row.name;
        return names;
    }
    int rowOf(const QString& name) const { return rowNames().indexOf(name); }

    // Selects exactly the rows named, the first of them also the focused row.
    void select(const QStringList& names) const
    {
        QItemSelectionModel* sel = list().selectionModel();
        sel->clearSelection();
        bool first = true;
        for (const QString& n : names) {
            const QModelIndex index = model().index(rowOf(n), 0);
            if (first)
                sel->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
            sel->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
            first = false;
        }
    }

    ScriptedPrompter prompter;
    QString root;
    std::unique_ptr<TfrmMain> window;

private:
    QTemporaryDir m_data;
    QTemporaryDir m_home;
    QTemporaryDir m_scratch;
};

} // namespace localtest
