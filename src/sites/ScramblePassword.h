#pragma once
// How a password is kept in the profile file, and how any value is written so that the INI
// format gives it back exactly.
#include <QByteArray>

// The scrambling base B. It must never change: every profile file written so far holds its
// passwords scrambled with it, and another base would turn them all into wrong passwords
// without any sign of damage. 157 (0x9D) also keeps every key of the first 60 positions
// (the password field's limit) at or above 0x80, so a password of printable 7-bit
// characters scrambles into bytes 0x80-0xFF only: never a control byte, blank or quotation
// mark, and the file holds it in the plain form.
inline constexpr unsigned kScrambleBase = 157;

// Each byte at position p (from 1) XOR k(p): p + B for odd p, (p + 10) / 2 + B for even p,
// both mod 256. k depends on the position alone, so the routine is its own inverse.
QByteArray ScramblePassword(const QByteArray& text);

// The text that marks a value stored in the escaped form.
inline constexpr char kEscapedValueMark[] = "%ESC%";

// The value as it goes into the file. A value the plain INI rule gives back unchanged is
// written as it is. Any other value - one holding a control byte (NUL, CR, LF, tab...) or
// DEL, beginning or ending with a blank or a quotation mark (" or '), or beginning with the
// mark itself - is written as the mark followed by the value with every byte outside
// '!'..'~' and every '%', '"' and '\'' as %XX (two upper-case hex digits).
QByteArray EncodeProfileValue(const QByteArray& value);
// The value as read back: an escaped value decoded, any other value as it stands (a text
// after the mark that is not a valid escape sequence is taken as plain).
QByteArray DecodeProfileValue(const QByteArray& stored);
