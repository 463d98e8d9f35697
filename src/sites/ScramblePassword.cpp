#include "sites/ScramblePassword.h"

namespace {

bool needsEscape(const QByteArray& value)
{
    if (value.startsWith(kEscapedValueMark))
        return true;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return true;
    }
    if (value.isEmpty())
        return false;
    auto atEnd = [](char c) { return c == ' ' || c == '"' || c == '\''; };
    return atEnd(value.front()) || atEnd(value.back());
}

bool keptAsIs(unsigned char byte)
{
    return byte >= 0x21 && byte <= 0x7E && byte != '%' && byte != '"' && byte != '\'';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

QByteArray ScramblePassword(const QByteArray& text)
{
    QByteArray out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const auto p = static_cast<unsigned>(i + 1);
        const unsigned key = (p % 2 == 1 ? p + kScrambleBase : (p + 10) / 2 + kScrambleBase) & 0xFF;
        out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ key);
    }
    return out;
}

QByteArray EncodeProfileValue(const QByteArray& value)
{
    if (!needsEscape(value))
        return value;
    static constexpr char digits[] = "0123456789ABCDEF";
    QByteArray out(kEscapedValueMark);
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (keptAsIs(byte)) {
            out += c;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0x0F];
        }
    }
    return out;
}

QByteArray DecodeProfileValue(const QByteArray& stored)
{
    if (!stored.startsWith(kEscapedValueMark))
        return stored;
    QByteArray out;
    const qsizetype markLength = sizeof kEscapedValueMark - 1;
    for (qsizetype i = markLength; i < stored.size(); ++i) {
        if (stored[i] != '%') {
            out += stored[i];
            continue;
        }
        const int high = i + 2 < stored.size() ? hexValue(stored[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(stored[i + 2]) : -1;
        if (low < 0)
            return stored;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}
