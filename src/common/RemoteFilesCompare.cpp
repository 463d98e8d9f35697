#include "common/RemoteFilesCompare.h"

#include <algorithm>

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

// A row is a folder exactly when its Size text is empty, which is when its image is the
// folder's; asking the image spares making the text.
bool isFolderRow(const FileListRow& row)
{
    return row.isFolder();
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

namespace {

// One row's sort key in a compact form, so a sort of 100,000 rows compares small records that
// sit together in memory instead of chasing every row's name through the heap.
struct SortItem
{
    quint64 first;  // the key (for names: their first four characters)
    quint64 second; // names: characters five to eight
    int index;      // the row's place in the listing
    bool folder;
};

// Four UTF-16 code units from `from`, most significant first; missing ones count as 0, which
// sorts a proper prefix before the longer name as the full comparison does.
quint64 packName(const QString& name, qsizetype from)
{
    quint64 packed = 0;
    for (qsizetype i = from; i < from + 4; ++i)
        packed = (packed << 16) | (i < name.size() ? name[i].unicode() : 0u);
    return packed;
}

SortItem sortItemOf(SortKey key, const FileListRow& row, int index)
{
    const bool folder = isFolderRow(row);
    switch (key) {
    case SortKey::Name:
        return {packName(row.name, 0), packName(row.name, 4), index, folder};
    case SortKey::Size:
        // An unknown size (negative) sorts before 0 bytes, as the row compare has it.
        return {static_cast<quint64>(std::max<qint64>(row.size, -1) + 1), 0, index, folder};
    case SortKey::Modified:
        // Minutes are signed; flipping the sign bit keeps their order as unsigned numbers.
        return {static_cast<quint64>(row.modifiedMinutes) ^ (quint64{1} << 63), 0, index, folder};
    case SortKey::None:
        break;
    }
    return {0, 0, index, folder};
}

} // namespace

std::vector<int> SortFileListRows(std::vector<FileListRow>& rows, int sortCode)
{
    const SortKey key = keyOf(sortCode);
    const bool descending = sortCode < 0;
    std::vector<SortItem> items;
    items.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        items.push_back(sortItemOf(key, rows[i], static_cast<int>(i)));
    const auto before = [&](const SortItem& a, const SortItem& b) {
        if (a.folder != b.folder)
            return a.folder;
        int order = 0;
        if (a.first != b.first)
            order = a.first < b.first ? -1 : 1;
        else if (a.second != b.second)
            order = a.second < b.second ? -1 : 1;
        else if (key == SortKey::Name)
            order = compareKeys(key, rows[static_cast<size_t>(a.index)],
                                rows[static_cast<size_t>(b.index)]);
        return descending ? order > 0 : order < 0;
    };
    std::stable_sort(items.begin(), items.end(), before);
    std::vector<int> order;
    order.reserve(items.size());
    for (const SortItem& item : items)
        order.push_back(item.index);
    std::vector<SortItem>().swap(items);
    // The rows move to their places along the cycles of the order, so a million rows are never
    // held twice: position `at` receives the row that stood at order[at].
    std::vector<bool> placed(rows.size());
    for (size_t start = 0; start < rows.size(); ++start) {
        if (placed[start])
            continue;
        FileListRow carried = std::move(rows[start]);
        size_t at = start;
        for (;;) {
            placed[at] = true;
            const auto from = static_cast<size_t>(order[at]);
            if (from == start) {
                rows[at] = std::move(carried);
                break;
            }
            rows[at] = std::move(rows[from]);
            at = from;
        }
    }
    return order;
}

int SortCodeAfterColumnClick(int sortCode, int column)
{
    const int clicked = column + 1;
    return sortCode == clicked ? -clicked : clicked;
}
