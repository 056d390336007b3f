// The file tree: the one name order of every child list, ordered inserts (one node,
// or a whole directory at once), the pre-order walk, and the path forms of a node.
//
// Sections: name order and inserts; the walk; path composition.
#include "tree/filetree.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "support/encodings.h"

namespace {

constexpr char16_t kEllipsis[] = u"...";  // marks the front of a shortened path
constexpr size_t kEllipsisLength = 3;
// Scratch for a narrow form before it is checked against its 1024-byte limit: three
// bytes per UTF-16 unit is the most any conversion here gives.
constexpr size_t kNarrowScratchBytes = kPathChars * 3 + 1;

// The UTF-8 form of a name that takes part in the order: at most 255 bytes, cut at a
// whole character. A null name (a top node) orders as empty.
size_t orderKey(const char16_t* name, char* key) {
    if (name == nullptr) {
        key[0] = 0;
        return 0;
    }
    utf16ToUtf8(name, key, kNameOrderBytes);
    return std::strlen(key);
}

int compareKeys(const unsigned char* a, size_t aLength, const unsigned char* b, size_t bLength) {
    int c = std::memcmp(a, b, std::min(aLength, bLength));
    if (c != 0) return c;
    return aLength < bLength ? -1 : aLength > bLength ? 1 : 0;
}

// Writes the path `prefix` + relative path of `node` (each name preceded by
// `separator`) into out[kPathChars]. When it does not fit, out holds "..." and the
// tail of the whole path instead, and the result is false.
bool composePath(const char16_t* prefix, const FileNode* node, char16_t separator, char16_t* out) {
    size_t prefixLength = wideLength(prefix);
    size_t total = prefixLength;
    for (const FileNode* n = node; n != nullptr && n->name != nullptr; n = n->parent)
        total += 1 + wideLength(n->name);
    bool fits = total < kPathChars;
    // Characters of the whole path from `skip` on land at out[lead + i - skip].
    size_t lead = fits ? 0 : kEllipsisLength;
    size_t skip = fits ? 0 : total - (kPathChars - 1 - kEllipsisLength);
    auto put = [&](size_t index, char16_t c) {
        if (index >= skip) out[lead + index - skip] = c;
    };
    size_t end = total;
    for (const FileNode* n = node; n != nullptr && n->name != nullptr; n = n->parent) {
        size_t length = wideLength(n->name);
        end -= length;
        for (size_t i = 0; i < length; ++i) put(end + i, n->name[i]);
        put(--end, separator);
    }
    for (size_t i = 0; i < prefixLength; ++i) put(i, prefix[i]);
    if (!fits) {
        std::memcpy(out, kEllipsis, kEllipsisLength * sizeof(char16_t));
        // Never begin the tail with the second half of a surrogate pair.
        if (out[lead] >= 0xDC00 && out[lead] < 0xE000) out[lead] = u'?';
    }
    out[fits ? total : kPathChars - 1] = 0;
    return fits;
}

// Converts a wide path with `convert` (which writes at most its capacity and returns
// the byte length) into out[kNarrowPathBytes]. When the result does not fit, out holds
// "..." and the converted tail that fits, and the result is false.
template <typename Convert>
bool narrowPath(const char16_t* wide, char* out, Convert convert) {
    char scratch[kNarrowScratchBytes];
    size_t length = convert(wide, scratch, sizeof scratch);
    if (length < kNarrowPathBytes) {
        std::memcpy(out, scratch, length + 1);
        return true;
    }
    // Drop characters from the front until the rest fits behind the dots.
    size_t wideTotal = wideLength(wide);
    size_t from = wideTotal > kNarrowPathBytes ? wideTotal - kNarrowPathBytes : 0;
    for (;; ++from) {
        if (wide[from] >= 0xDC00 && wide[from] < 0xE000) continue;
        length = convert(wide + from, scratch, sizeof scratch);
        if (length + kEllipsisLength < kNarrowPathBytes) break;
    }
    std::memcpy(out, "...", kEllipsisLength);
    std::memcpy(out + kEllipsisLength, scratch, length + 1);
    return false;
}

// The narrow forms are for the console: control characters in names show as '?'.
size_t toNarrow(const char16_t* wide, char* out, size_t capacity) {
    char16_t safe[kPathChars];
    size_t n = 0;
    for (; wide[n] != 0 && n + 1 < kPathChars; ++n) safe[n] = wide[n];
    safe[n] = 0;
    makeDisplaySafeWide(safe);
    return osWideToNarrow(safe, out, capacity);
}

size_t toUtf8(const char16_t* wide, char* out, size_t capacity) {
    utf16ToUtf8(wide, out, capacity);
    return std::strlen(out);
}

}  // namespace

// ---------------------------------------------------------------------------
// Name order and inserts
// ---------------------------------------------------------------------------

int compareNames(const char16_t* a, const char16_t* b) {
    char keyA[kNameOrderBytes];
    char keyB[kNameOrderBytes];
    size_t lengthA = orderKey(a, keyA);
    size_t lengthB = orderKey(b, keyB);
    return compareKeys(reinterpret_cast<unsigned char*>(keyA), lengthA,
                       reinterpret_cast<unsigned char*>(keyB), lengthB);
}

void insertChildrenSorted(FileNode* directory, FileNode** nodes, size_t count) {
    // Each name's key is computed once into one pool; a stable sort keeps the read
    // order among equal keys.
    struct Entry {
        FileNode* node;
        size_t offset;
        size_t length;
    };
    std::vector<char> pool;
    std::vector<Entry> entries;
    pool.reserve(count * 16);
    entries.reserve(count);
    char key[kNameOrderBytes];
    for (size_t i = 0; i < count; ++i) {
        size_t length = orderKey(nodes[i]->name, key);
        entries.push_back({nodes[i], pool.size(), length});
        pool.insert(pool.end(), key, key + length);
    }
    auto keyOf = [&](const Entry& e) {
        return reinterpret_cast<const unsigned char*>(pool.data()) + e.offset;
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        return compareKeys(keyOf(a), a.length, keyOf(b), b.length) < 0;
    });
    // Merge with children already present; on equal names those stay in front.
    FileNode* existing = directory->firstChild;
    FileNode** link = &directory->firstChild;
    char existingKey[kNameOrderBytes];
    size_t existingLength = existing ? orderKey(existing->name, existingKey) : 0;
    for (const Entry& e : entries) {
        while (existing != nullptr &&
               compareKeys(keyOf(e), e.length, reinterpret_cast<unsigned char*>(existingKey),
                           existingLength) >= 0) {
            *link = existing;
            link = &existing->nextSibling;
            existing = existing->nextSibling;
            if (existing) existingLength = orderKey(existing->name, existingKey);
        }
        e.node->parent = directory;
        *link = e.node;
        link = &e.node->nextSibling;
    }
    *link = existing;
}

// ---------------------------------------------------------------------------
// The walk
// ---------------------------------------------------------------------------

FileNode* nextNode(const FileNode* node) {
    if (node == nullptr) return nullptr;
    if (node->firstChild != nullptr) return node->firstChild;
    for (const FileNode* n = node; n != nullptr; n = n->parent) {
        if (n->name == nullptr) return nullptr;  // never leave the top node's tree
        if (n->nextSibling != nullptr) return n->nextSibling;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Path composition
// ---------------------------------------------------------------------------

bool relativePath(const FileNode* node, char16_t separator, char16_t* out) {
    return composePath(nullptr, node, separator, out);
}

// A root that is the separator alone ("/") adds nothing in front of the relative
// path, so its children read "/x" rather than "//x". A drive root such as "C:\"
// is put in front unchanged and its children carry two backslashes, which the file
// API accepts.
namespace {

const char16_t* hostPrefix(const char16_t* root) {
    return root[0] == osPathSeparator() && root[1] == 0 ? u"" : root;
}

}  // namespace

bool hostPath(const char16_t* root, const FileNode* node, char16_t* out) {
    if (node->name == nullptr) return composePath(root, node, osPathSeparator(), out);
    return composePath(hostPrefix(root), node, osPathSeparator(), out);
}

bool hostPathNarrow(const char16_t* root, const FileNode* node, char* out) {
    char16_t wide[kPathChars];
    bool fits = hostPath(root, node, wide);
    return narrowPath(wide, out, toNarrow) && fits;
}

bool devicePath(const char16_t* root, const FileNode* node, char* out) {
    char16_t wide[kPathChars];
    bool fits = composePath(root, node, u'/', wide);
    return narrowPath(wide, out, toUtf8) && fits;
}

bool devicePathNarrow(const char16_t* root, const FileNode* node, char* out) {
    char16_t wide[kPathChars];
    bool fits = composePath(root, node, u'/', wide);
    return narrowPath(wide, out, toNarrow) && fits;
}

void displayPath(const FileNode* node, char* out) {
    char16_t wide[kPathChars];
    bool fits = relativePath(node, u'/', wide);
    // Without the leading '/'; a shortened path keeps its dots in front.
    narrowPath(fits && wide[0] != 0 ? wide + 1 : wide, out, toNarrow);
}

void initMarkerNode(MarkerNode* marker, FileNode* directory) {
    std::memcpy(marker->name, kMarkerName, sizeof marker->name);
    marker->node = FileNode{};
    marker->node.parent = directory;
    marker->node.name = marker->name;
}

// ".NAME.tandrix-XXXXXX" (six upper-case hex digits): the temporary file of a pull.
bool isPullTempName(const char16_t* name) {
    constexpr char16_t kMark[] = u".tandrix-";
    constexpr size_t kMarkChars = sizeof kMark / sizeof kMark[0] - 1;
    constexpr size_t kDigits = 6;
    size_t n = wideLength(name);
    if (name[0] != u'.' || n < 1 + kMarkChars + kDigits) return false;
    const char16_t* mark = name + n - kMarkChars - kDigits;
    for (size_t i = 0; i < kMarkChars; ++i)
        if (mark[i] != kMark[i]) return false;
    for (size_t i = 0; i < kDigits; ++i) {
        char16_t c = mark[kMarkChars + i];
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
    }
    return true;
}
