// The [ini] and [reg] line grammars and their placeholders (see transfer.h).
#include "update/transfer.h"

#include <string.h>

namespace {

// Replaces the placeholder that begins at `at` inside text (a buffer of
// kTransferTextCapacity bytes). False when the result does not fit; text is
// then no longer whole and must not be used.
bool ReplaceAt(char* text, char* at, size_t placeholder_length, const char* replacement) {
    char tail[kTransferTextCapacity];  // the text behind the placeholder
    if (!CopyText(tail, sizeof tail, at + placeholder_length)) return false;
    *at = '\0';
    return AppendText(text, kTransferTextCapacity, replacement ? replacement : "") &&
           AppendText(text, kTransferTextCapacity, tail);
}

// The rule both sections share: the drive first, then the game folder, each
// only where it first occurs. The drive search runs only for a line that
// names the drive.
TransferResult Expand(char* buffer, const char* text, const char* drive_placeholder,
                      const TransferPlaces* places) {
    bool fits = CopyText(buffer, kTransferTextCapacity, text);
    if (fits) {
        if (char* at = (char*)FindText(buffer, drive_placeholder)) {
            const char* root = places->cdrom_root ? places->cdrom_root() : nullptr;
            fits = ReplaceAt(buffer, at, strlen(drive_placeholder), root);
        }
    }
    if (fits) {
        if (char* at = (char*)FindText(buffer, kPlaceholderInstall)) {
            fits = ReplaceAt(buffer, at, strlen(kPlaceholderInstall), places->install);
        }
    }
    if (!fits) {
        buffer[0] = '\0';
        return kTransferTooLong;
    }
    return kTransferAccepted;
}

// Copies text[0..length) into field as a terminated string. The fields are as
// large as the expansion buffers, so a part of an expanded line always fits.
void SetField(char* field, const char* text, size_t length) {
    if (length >= kTransferTextCapacity) length = kTransferTextCapacity - 1;
    memcpy(field, text, length);
    field[length] = '\0';
}

TransferResult Reject(TransferEntry* entry, TransferResult result) {
    entry->name[0] = '\0';
    entry->data[0] = '\0';
    return result;
}

}  // namespace

TransferResult ExpandIniPlaceholders(const char* text, const TransferPlaces* places,
                                     char expanded[kTransferTextCapacity]) {
    return Expand(expanded, text, kPlaceholderIniDrive, places);
}

TransferResult ExpandRegPlaceholders(const char* text, const TransferPlaces* places,
                                     char expanded[kTransferTextCapacity]) {
    return Expand(expanded, text, kPlaceholderRegDrive, places);
}

TransferResult UnescapeRegText(const char* text, char unescaped[kUnescapeCapacity]) {
    size_t used = 0;
    const char* p = text;
    while (*p) {
        // A backslash goes; the character after it is kept as it is and is
        // never an escape itself, so "\\\\" gives "\\".
        if (*p == '\\') {
            p += 1;
            if (*p == '\0') break;
        }
        size_t step = CharLength(p);
        if (used + step >= kUnescapeCapacity) {
            unescaped[0] = '\0';
            return kTransferTooLong;
        }
        memcpy(unescaped + used, p, step);
        used += step;
        p += step;
    }
    unescaped[used] = '\0';
    return kTransferAccepted;
}

TransferResult ParseIniLine(const char* line, const TransferPlaces* places, TransferEntry* entry) {
    if (!FindChar(line, kIniSeparator)) return Reject(entry, kTransferMalformed);
    char expanded[kTransferTextCapacity];
    TransferResult result = ExpandIniPlaceholders(line, places, expanded);
    if (result != kTransferAccepted) return Reject(entry, result);
    // The first "=" of the expanded text: a game folder with "=" in its name
    // that stands in the key moves the split, as it always has.
    const char* equals = FindChar(expanded, kIniSeparator);
    if (!equals) return Reject(entry, kTransferMalformed);
    SetField(entry->name, expanded, (size_t)(equals - expanded));
    SetField(entry->data, equals + 1, strlen(equals + 1));
    return kTransferAccepted;
}

TransferResult ParseRegLine(const char* line, const TransferPlaces* places, TransferEntry* entry) {
    if (!FindText(line, kRegSeparator)) return Reject(entry, kTransferMalformed);
    char unescaped[kUnescapeCapacity];
    TransferResult result = UnescapeRegText(line, unescaped);
    if (result != kTransferAccepted) return Reject(entry, result);
    char expanded[kTransferTextCapacity];
    result = ExpandRegPlaceholders(unescaped, places, expanded);
    if (result != kTransferAccepted) return Reject(entry, result);
    if (expanded[0] == '\0') return Reject(entry, kTransferMalformed);

    // The name starts at the second byte, whatever the first was; its end is
    // searched from the second character so that the walk stays in step with
    // the double-byte characters of the text.
    const char* name = expanded + 1;
    const char* name_end = FindText(expanded + CharLength(expanded), kRegSeparator);
    if (!name_end) return Reject(entry, kTransferMalformed);
    // The data follows the first separator of the whole text, which is not
    // the one that ended the name when the text itself begins with quote,
    // equals, quote (a value named "="): the first updaters read it so.
    const char* separator = FindText(expanded, kRegSeparator);
    if (!separator) return Reject(entry, kTransferMalformed);
    const char* data = separator + strlen(kRegSeparator);
    size_t data_length = strlen(data);
    if (data_length > 0) data_length -= 1;
    SetField(entry->name, name, (size_t)(name_end - name));
    SetField(entry->data, data, data_length);
    return kTransferAccepted;
}
