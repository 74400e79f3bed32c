// Automatic numbering of the output file name: "_000" to "_999" before the
// ".avi" extension, the first free number at or above the one in the name.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "app_state.h"

#define EXTENSION ".avi"
#define EXTENSION_LENGTH 4
#define NUMBER_FIELD "_000"
#define NUMBER_FIELD_LENGTH 4
#define MAX_NUMBER 999

// A name is taken when anything of that name is there: a file whatever its
// owner or mode, a folder, a link. Only a name the system says is missing, or
// one too long or with characters refused, so that nothing can stand under
// it, is free, so numbering never hands out a name that Record would
// replace; opening such a name then fails with its reason.
static BOOL NameIsTaken(const char *name)
{
    if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) return TRUE;
    DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_FILENAME_EXCED_RANGE &&
           error != ERROR_INVALID_NAME;
}

// Compares a tail of the name with the extension without regard to the
// case of ASCII letters.
static BOOL IsExtension(const char *tail)
{
    for (int i = 0; i <= EXTENSION_LENGTH; i++)
        if (tolower((unsigned char)tail[i]) != EXTENSION[i]) return FALSE;
    return TRUE;
}

// The position of the ".avi" extension (any case) ending the name, or -1.
static int FindExtension(const char *name, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (IsExtension(name + i)) return (int)i;
    return -1;
}

// Whether the three characters before the extension, behind an underscore
// with at least one character before it, are a number.
static BOOL HasNumberField(const char *name, int dot)
{
    if (dot < 5 || name[dot - 4] != '_') return FALSE;
    for (int i = dot - 3; i < dot; i++)
        if (!isdigit((unsigned char)name[i])) return FALSE;
    return TRUE;
}

BOOL NumberImageFile(char *name, size_t size)
{
    const char *end = (const char *)memchr(name, '\0', size);
    if (end == NULL) return FALSE;  // no terminator: not a name
    size_t length = (size_t)(end - name);
    int dot = FindExtension(name, length);
    if (dot < 0) return TRUE;  // not an AVI name: used as it is

    char candidate[MAX_PATH];
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    if (length >= sizeof candidate) return FALSE;
    memcpy(candidate, name, length + 1);
    int number = 0;
    if (HasNumberField(candidate, dot)) {
        number = (candidate[dot - 3] - '0') * 100 + (candidate[dot - 2] - '0') * 10 + (candidate[dot - 1] - '0');
    } else {
        // The inserted field must fit the name's field with its terminator.
        if (length + NUMBER_FIELD_LENGTH >= size || length + NUMBER_FIELD_LENGTH >= sizeof candidate) return FALSE;
        memmove(candidate + dot + NUMBER_FIELD_LENGTH, candidate + dot, length - dot + 1);
        memcpy(candidate + dot, NUMBER_FIELD, NUMBER_FIELD_LENGTH);
        dot += NUMBER_FIELD_LENGTH;
    }

    while (NameIsTaken(candidate)) {
        if (++number > MAX_NUMBER) {
            SetLastError(ERROR_FILE_EXISTS);  // every number is in use
            return FALSE;
        }
        char digits[12];  // room for any int, though number stays within 0..999
        snprintf(digits, sizeof digits, "%03d", number);
        memcpy(candidate + dot - 3, digits, 3);
    }
    memcpy(name, candidate, strlen(candidate) + 1);
    return TRUE;
}

void DescribeNoFreeNumber(const char *name, char *text, size_t size)
{
    size_t length = strlen(name);
    int dot = FindExtension(name, length);
    int stem = dot < 0 ? (int)length : dot;
    int first = 0;
    if (dot >= 0 && HasNumberField(name, dot)) {
        first = (name[dot - 3] - '0') * 100 + (name[dot - 2] - '0') * 10 + (name[dot - 1] - '0');
        stem = dot - NUMBER_FIELD_LENGTH;
    }
    // The folder is said apart: the numbered names are its files' names.
    int filePart = stem;
    while (filePart > 0 && name[filePart - 1] != '\\' && name[filePart - 1] != '/' && name[filePart - 1] != ':')
        filePart--;
    char folder[MAX_PATH];
    if (filePart > 0)
        snprintf(folder, sizeof folder, "%.*s", filePart, name);
    else
        snprintf(folder, sizeof folder, "the current folder");
    snprintf(text, size,
             "Can't record: no free number for %.*s_nnn%s: %03d to %03d are taken.\n"
             "Move files out of %s or choose another name, then Record again.",
             stem - filePart, name + filePart, dot < 0 ? "" : name + dot, first, MAX_NUMBER, folder);
}
