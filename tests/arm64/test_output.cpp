// test_output.cpp: standard-handle output and hex numbers for the ARM64 test programs.
#include "test_output.h"

#include <string.h>
#include <wchar.h>

void write_bytes(HANDLE out, const char *bytes, size_t length)
{
    while (length > 0) {
        DWORD written = 0;
        const DWORD chunk = length > 65536 ? 65536 : static_cast<DWORD>(length);
        if (!WriteFile(out, bytes, chunk, &written, NULL) || written == 0) return;
        bytes += written;
        length -= written;
    }
}

void write_text(HANDLE out, const char *text)
{
    write_bytes(out, text, strlen(text));
}

void write_wide(HANDLE out, const wchar_t *text, size_t length)
{
    char buffer[4096];
    while (length > 0) {
        // Whole surrogate pairs per piece: 1000 units make at most 3000 bytes.
        size_t piece = length > 1000 ? 1000 : length;
        if (piece < length && text[piece - 1] >= 0xD800 && text[piece - 1] <= 0xDBFF) piece--;
        const int n =
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(piece), buffer, sizeof buffer, NULL, NULL);
        if (n > 0) write_bytes(out, buffer, static_cast<size_t>(n));
        text += piece;
        length -= piece;
    }
}

void format_hex32(uint32_t value, char *buffer)
{
    static const char digits[] = "0123456789abcdef";
    buffer[0] = '0';
    buffer[1] = 'x';
    for (int i = 0; i < 8; i++) buffer[2 + i] = digits[(value >> (28 - 4 * i)) & 0xF];
    buffer[10] = '\0';
}

bool parse_exit_argument(const wchar_t *text, uint32_t *code)
{
    if (wcsncmp(text, L"--exit=", 7) != 0) return false;
    text += 7;
    if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) text += 2;
    uint32_t value = 0;
    int digits = 0;
    for (; *text; text++, digits++) {
        const wchar_t c = *text;
        uint32_t d;
        if (c >= L'0' && c <= L'9') {
            d = static_cast<uint32_t>(c - L'0');
        } else if (c >= L'a' && c <= L'f') {
            d = static_cast<uint32_t>(c - L'a' + 10);
        } else if (c >= L'A' && c <= L'F') {
            d = static_cast<uint32_t>(c - L'A' + 10);
        } else {
            return false;
        }
        if (digits == 8) return false;
        value = value << 4 | d;
    }
    if (digits == 0) return false;
    *code = value;
    return true;
}
