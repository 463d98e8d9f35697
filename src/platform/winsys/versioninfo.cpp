#include "winver.h"

#include "lasterror.h"

#include <cstring>
#include <limits>
#include <string_view>

// The version block: building it for the link step and looking values up in it. The block
// may come from any file the user points us at, so every length in it is checked against the
// node that contains it before anything is read.

namespace {

constexpr std::size_t kNodeHeaderBytes = 6; // wLength, wValueLength, wType
constexpr WORD kTextValue = 1;
constexpr WORD kBinaryValue = 0;
constexpr char kRootKey[] = "VS_VERSION_INFO";
constexpr char kStringTable[] = "040904E4";
constexpr WORD kLanguageUsEnglish = 0x0409;
constexpr WORD kCodePage1252 = 0x04E4;

std::size_t alignedTo4(std::size_t offset)
{
    return (offset + 3) & ~std::size_t{3};
}

WORD readWord(const BYTE* at)
{
    return static_cast<WORD>(at[0] | (at[1] << 8));
}

// ---- Building ----

struct NodeSpec
{
    std::string key;
    std::vector<BYTE> value;
    WORD type = kBinaryValue;
    std::vector<NodeSpec> children;
};

void putWord(std::vector<BYTE>& out, std::size_t at, std::size_t value)
{
    out[at] = static_cast<BYTE>(value & 0xFF);
    out[at + 1] = static_cast<BYTE>((value >> 8) & 0xFF);
}

void padTo4(std::vector<BYTE>& out)
{
    out.resize(alignedTo4(out.size()), 0);
}

void emitNode(std::vector<BYTE>& out, const NodeSpec& node)
{
    const std::size_t start = out.size();
    out.resize(start + kNodeHeaderBytes, 0);
    putWord(out, start + 2, node.value.size());
    putWord(out, start + 4, node.type);
    out.insert(out.end(), node.key.begin(), node.key.end());
    out.push_back(0);
    padTo4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const NodeSpec& child : node.children) {
        padTo4(out);
        emitNode(out, child);
    }
    putWord(out, start, out.size() - start);
}

std::vector<BYTE> textValue(const std::string& text)
{
    std::vector<BYTE> value(text.begin(), text.end());
    value.push_back(0);
    return value;
}

void appendDword(std::vector<BYTE>& out, DWORD value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<BYTE>((value >> shift) & 0xFF));
}

// "1.0.0.124" as the two DWORDs of the fixed information; a part that is missing, not a
// number or above 65535 counts as 0.
std::pair<DWORD, DWORD> packedVersion(const std::string& text)
{
    DWORD parts[4] = {0, 0, 0, 0};
    std::size_t index = 0;
    std::size_t pos = 0;
    while (index < 4 && pos <= text.size()) {
        const std::size_t end = std::min(text.find('.', pos), text.size());
        const std::string_view part(text.data() + pos, end - pos);
        DWORD value = 0;
        bool valid = !part.empty() && part.size() <= 5;
        for (const char c : part) {
            valid = valid && c >= '0' && c <= '9';
            value = value * 10 + static_cast<DWORD>(c - '0');
        }
        parts[index++] = valid && value <= 0xFFFF ? value : 0;
        pos = end + 1;
    }
    return {(parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]};
}

// ---- Looking up ----

struct Node
{
    const BYTE* start = nullptr;
    std::size_t length = 0;
    std::string_view key;
    const BYTE* value = nullptr;
    std::size_t valueLength = 0;
    WORD type = 0;
    std::size_t childrenOffset = 0; // from `start`
};

// Reads the node at `offset` of `block`, which must lie wholly before `limit`.
bool parseNode(const BYTE* block, std::size_t offset, std::size_t limit, Node& node)
{
    if (offset > limit || limit - offset < kNodeHeaderBytes)
        return false;
    const BYTE* start = block + offset;
    const std::size_t length = readWord(start);
    if (length < kNodeHeaderBytes || length > limit - offset)
        return false;
    const std::size_t end = offset + length;
    const auto* keyStart = reinterpret_cast<const char*>(start + kNodeHeaderBytes);
    const std::size_t keyRoom = length - kNodeHeaderBytes;
    const auto* keyEnd = static_cast<const char*>(std::memchr(keyStart, 0, keyRoom));
    if (!keyEnd)
        return false;
    const std::size_t valueOffset =
        alignedTo4(offset + kNodeHeaderBytes + static_cast<std::size_t>(keyEnd - keyStart) + 1);
    const std::size_t valueLength = readWord(start + 2);
    if (valueOffset > end || valueLength > end - valueOffset)
        return false;
    node.start = start;
    node.length = length;
    node.key = std::string_view(keyStart, static_cast<std::size_t>(keyEnd - keyStart));
    node.value = block + valueOffset;
    node.valueLength = valueLength;
    node.type = readWord(start + 4);
    node.childrenOffset = alignedTo4(valueOffset + valueLength) - offset;
    return true;
}

bool sameKey(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool findChild(const BYTE* block, const Node& parent, std::string_view key, Node& found)
{
    const auto parentOffset = static_cast<std::size_t>(parent.start - block);
    const std::size_t end = parentOffset + parent.length;
    std::size_t offset = parentOffset + parent.childrenOffset;
    while (offset < end) {
        Node child;
        if (!parseNode(block, offset, end, child))
            return false;
        if (sameKey(child.key, key)) {
            found = child;
            return true;
        }
        offset = alignedTo4(offset + child.length);
    }
    return false;
}

} // namespace

std::vector<BYTE> BuildVersionInfo(const std::string& fileVersion,
                                   const std::vector<std::pair<std::string, std::string>>& strings)
{
    const auto [versionMs, versionLs] = packedVersion(fileVersion);
    NodeSpec root{kRootKey, {}, kBinaryValue, {}};
    for (const DWORD field :
         {VS_FFI_SIGNATURE, VS_FFI_STRUCVERSION, versionMs, versionLs, versionMs, versionLs,
          DWORD{0x3F}, DWORD{0}, DWORD{0}, DWORD{1}, DWORD{0}, DWORD{0}, DWORD{0}})
        appendDword(root.value, field);

    NodeSpec table{kStringTable, {}, kTextValue, {}};
    for (const auto& [name, text] : strings)
        table.children.push_back({name, textValue(text), kTextValue, {}});
    root.children.push_back({"StringFileInfo", {}, kTextValue, {table}});

    NodeSpec translation{"Translation", {}, kBinaryValue, {}};
    for (const WORD part : {kLanguageUsEnglish, kCodePage1252}) {
        translation.value.push_back(static_cast<BYTE>(part & 0xFF));
        translation.value.push_back(static_cast<BYTE>(part >> 8));
    }
    root.children.push_back({"VarFileInfo", {}, kTextValue, {translation}});

    std::vector<BYTE> block;
    emitNode(block, root);
    return block;
}

BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen)
{
    if (!pBlock || !lpSubBlock || !lplpBuffer || !puLen) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* block = static_cast<const BYTE*>(pBlock);
    // The block's own length bounds every read; GetFileVersionInfoA made sure that many
    // bytes are there.
    Node node;
    if (!parseNode(block, 0, readWord(block), node) || !sameKey(node.key, kRootKey)) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    const std::string_view path(lpSubBlock);
    std::size_t pos = 0;
    while (pos < path.size()) {
        const std::size_t end = std::min(path.find('\\', pos), path.size());
        if (end > pos && !findChild(block, node, path.substr(pos, end - pos), node)) {
            SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
            return FALSE;
        }
        pos = end + 1;
    }
    std::size_t length = node.valueLength;
    if (node.start == block) {
        if (length < sizeof(VS_FIXEDFILEINFO)) {
            SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
            return FALSE;
        }
    } else if (node.type == kTextValue) {
        // A text must end within its value, or a reader would run past it.
        const void* nul = length ? std::memchr(node.value, 0, length) : nullptr;
        if (!nul) {
            SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
            return FALSE;
        }
        length = static_cast<std::size_t>(static_cast<const BYTE*>(nul) - node.value) + 1;
    }
    *lplpBuffer = const_cast<BYTE*>(node.value);
    *puLen = static_cast<UINT>(length);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
