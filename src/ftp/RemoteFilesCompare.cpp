#include "ftp/RemoteFilesCompare.h"

#include <algorithm>
#include <numeric>

namespace {

enum class SortKey { None, Name, Size, Modified };

SortKey keyOf(int sortCode)
{
    // The magnitude names the column; an unsigned view keeps INT_MIN from overflowing.
    const unsigned magnitude =
        sortCode < 0 ? 0u - static_cast<unsigned>(sortCode) : static_cast<unsigned>(sortCode);
    switch (magnitude) {
    case 1:
        return SortKey::Name;
    case 2:
        return SortKey::Size;
    case 3:
        return SortKey::Modified;
    default:
        return SortKey::None;
    }
}

// A row is a folder exactly when its Size text is empty; the compare decides by that text,
// not by the image, as the lists have always done.
bool isFolderRow(const FileListRow& row)
{
    return row.sizeText.isEmpty();
}

// Three-way comparison of the keys: negative, zero or positive.
int compareKeys(SortKey key, const FileListRow& a, const FileListRow& b)
{
    switch (key) {
    case SortKey::Name:
        // Case-sensitive by character code, so "B.txt" sorts before "a.txt" and a proper
        // prefix first.
        return QString::compare(a.name, b.name, Qt::CaseSensitive);
    case SortKey::Size:
        return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
    case SortKey::Modified:
        return a.modifiedMinutes < b.modifiedMinutes
                   ? -1
                   : (a.modifiedMinutes > b.modifiedMinutes ? 1 : 0);
    case SortKey::None:
        break;
    }
    return 0;
}

} // namespace

int RemoteFilesCompare(int sortCode, const FileListRow& item1, const FileListRow& item2)
{
    const bool folder1 = isFolderRow(item1);
    const bool folder2 = isFolderRow(item2);
    if (folder1 != folder2)
        return folder1 ? -1 : 1;
    const SortKey key = keyOf(sortCode);
    if (key == SortKey::None)
        return 0;
    const int compare = compareKeys(key, item1, item2) < 0 ? -1 : 1;
    return sortCode < 0 ? -compare : compare;
}

bool FileListRowBefore(int sortCode, const FileListRow& a, const FileListRow& b)
{
    const bool folderA = isFolderRow(a);
    const bool folderB = isFolderRow(b);
    if (folderA != folderB)
        return folderA;
    const SortKey key = keyOf(sortCode);
    if (key == SortKey::None)
        return false;
    const int order = compareKeys(key, a, b);
    return sortCode < 0 ? order > 0 : order < 0;
}

std::vector<int> SortFileListRows(std::vector<FileListRow>& rows, int sortCode)
{
    std::vector<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return FileListRowBefore(sortCode, rows[static_cast<size_t>(a)],
                                 rows[static_cast<size_t>(b)]);
    });
    std::vector<FileListRow> sorted;
    sorted.reserve(rows.size());
    for (int from : order)
        sorted.push_back(std::move(rows[static_cast<size_t>(from)]));
    rows = std::move(sorted);
    return order;
}

int SortCodeAfterColumnClick(int sortCode, int column)
{
    const int clicked = column + 1;
    return sortCode == clicked ? -clicked : clicked;
}
