// The date columns of Unix-style lines. ls writes them as the server's locale and options
// say, so the same column shows up as
//   Mar  3 14:07 | Dec 24  2019 | Okt. 3 14:07 | 29 Jul 02:27 | 01 oct 2004 | 2004. szept 15.
//   2005-06-07 21:22 | 1999/10/12 17:12 | 24-04-2003 17:12 | 2004.07.15 | 09-26 2000
//   5\xe6\x9c\x88 14\xe6\x97\xa5 12:00 (month and day with East Asian unit characters) | 3 29 03:26
#include "ListingParserDetail.h"

namespace listing {

namespace {

std::string_view at(const Fields& fields, std::size_t i)
{
    return i < fields.size() ? fields[i] : std::string_view();
}

std::string_view withoutSuffix(std::string_view text, std::string_view suffixes)
{
    if (!text.empty() && suffixes.find(text.back()) != std::string_view::npos)
        text.remove_suffix(1);
    return text;
}

// "3", "03", "3." (German, Hungarian) or "3," ("Sep 10, 2004").
int dayValue(std::string_view text)
{
    text = withoutSuffix(text, ".,");
    const int day = text.size() <= 2 ? smallValue(text) : -1;
    return day >= 1 && day <= 31 ? day : -1;
}

int yearValue(std::string_view text)
{
    text = withoutSuffix(text, ".");
    const int year = text.size() == 4 ? smallValue(text) : -1;
    return year >= 1601 ? year : -1;
}

// A year past 9999 ("Dec 10  10000"): ls writes it in full, and the entry is real though no
// file time can hold its date.
bool isYearBeyondRange(std::string_view text)
{
    std::uint64_t year = 0;
    return text.size() >= 5 && text.size() <= 12 && parseUnsigned(text, 999999999999, year) &&
           year > 9999;
}

// A time of day or a year in the third column: "14:07" or "2019".
bool timeOrYear(std::string_view text, ListDate& date)
{
    if (parseClock(text, date))
        return true;
    date.year = yearValue(text);
    if (date.year < 0 && isYearBeyondRange(text)) {
        date.year = 0;
        date.unknown = true;
        return true;
    }
    return date.year > 0;
}

// "Mar 3 14:07", "Dec 24 2019", and BSD's full "Mar 3 14:07:33 2019".
std::size_t monthFirst(const Fields& fields, std::size_t i, ListDate& date)
{
    date.month = monthFromName(at(fields, i));
    date.day = dayValue(at(fields, i + 1));
    if (date.month == 0 || date.day < 0 || !timeOrYear(at(fields, i + 2), date))
        return 0;
    if (date.year == 0 && !date.unknown && at(fields, i + 2).size() > 5 &&
        yearValue(at(fields, i + 3)) > 0) {
        date.year = yearValue(at(fields, i + 3));
        return 4;
    }
    return 3;
}

// "29 Jul 02:27", "01 oct 2004", "3. Okt. 14:07".
std::size_t dayFirst(const Fields& fields, std::size_t i, ListDate& date)
{
    date.day = dayValue(at(fields, i));
    date.month = monthFromName(at(fields, i + 1));
    return date.month != 0 && date.day > 0 && timeOrYear(at(fields, i + 2), date) ? 3 : 0;
}

// "2004. szept. 15.", Hungarian ls's form for entries that are not recent (recent ones show
// "szept. 15. 14:07"). The year always carries its dot. Without that, a number before a month
// is a size: "1001  4095 Dec 10 11:07" is vsftpd's numeric group, size and date, not the
// year 4095. A year and a time of day together is never this form.
std::size_t yearFirst(const Fields& fields, std::size_t i, ListDate& date)
{
    const std::string_view year = at(fields, i);
    date.year = year.ends_with('.') ? yearValue(year) : -1;
    date.month = monthFromName(at(fields, i + 1));
    date.day = dayValue(at(fields, i + 2));
    ListDate clock;
    if (date.year < 0 || date.month == 0 || date.day < 0 || parseClock(at(fields, i + 3), clock))
        return 0;
    return 3;
}

// "2005-06-07 21:22", "2005-06-07 21:22:33.000000000 +0200", "1999/10/12 17:12",
// "24-04-2003 17:12", "2004.07.15". Times are kept as the server's local time, like every
// other form's, so the zone column is passed over.
std::size_t numericDate(const Fields& fields, std::size_t i, ListDate& date)
{
    const std::string_view text = at(fields, i);
    const std::size_t separator = text.find_first_of("-/.");
    if (separator == std::string_view::npos ||
        !parseNumericDate(text, "-/.", text[separator] != '/', false, date))
        return 0;
    if (!parseClock(at(fields, i + 1), date))
        return 1;
    const std::string_view zone = at(fields, i + 2);
    if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-') && smallValue(zone.substr(1)) >= 0)
        return 3;
    return 2;
}

// "09-26 2000" and "09-26 13:45": month and day, then the year or the time.
std::size_t monthDayPair(const Fields& fields, std::size_t i, ListDate& date)
{
    const std::string_view text = at(fields, i);
    if (text.size() != 5 || text[2] != '-')
        return 0;
    date.month = smallValue(text.substr(0, 2));
    date.day = smallValue(text.substr(3));
    return date.month >= 1 && date.month <= 12 && date.day >= 1 && date.day <= 31 &&
                   timeOrYear(at(fields, i + 1), date)
               ? 2
               : 0;
}

// A number and the unit after it, as in "2003\xe5\xb9\xb4" or "5\xe6\x9c\x88".
struct UnitNumber
{
    int value;
    std::size_t digits;
    bool unit;
};

// Splits a column such as "2003\xe5\xb9\xb4" "5\xe6\x9c\x88" "14\xe6\x97\xa5" (or all three
// glued together) into numbers. A unit is any run of bytes from the first one above 0x7F to
// the next digit: the year, month and day signs differ by language and encoding (UTF-8,
// Shift JIS, EUC, Big5, GBK), but none of those encodes a digit inside a character.
bool splitUnitNumbers(std::string_view text, UnitNumber* parts, std::size_t capacity,
                      std::size_t& count)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t digitsEnd =
            std::min(text.find_first_not_of("0123456789", pos), text.size());
        if (digitsEnd == pos || digitsEnd - pos > 4 || count == capacity)
            return false;
        UnitNumber part{smallValue(text.substr(pos, digitsEnd - pos)), digitsEnd - pos, false};
        pos = digitsEnd;
        if (pos < text.size()) {
            if (static_cast<unsigned char>(text[pos]) < 0x80)
                return false;
            const std::size_t unitEnd =
                std::min(text.find_first_of("0123456789", pos), text.size());
            if (unitEnd - pos > 8)
                return false;
            part.unit = true;
            pos = unitEnd;
        }
        parts[count++] = part;
    }
    return count > 0;
}

// East Asian forms: "5\xe6\x9c\x88 14\xe6\x97\xa5 12:00", "5\xe6\x9c\x88 14 2003",
// "2003\xe5\xb9\xb4 5\xe6\x9c\x88 14\xe6\x97\xa5", "2003\xe5\xb9\xb4""5\xe6\x9c\x88""14\xe6\x97\xa5
// 12:00".
std::size_t unitDate(const Fields& fields, std::size_t i, ListDate& date)
{
    UnitNumber parts[3];
    std::size_t count = 0;
    std::size_t used = 0;
    if (!splitUnitNumbers(at(fields, i), parts, 3, count) || !parts[0].unit)
        return 0;
    used = 1;
    const bool yearShown = parts[0].digits == 4;
    const std::size_t wanted = yearShown ? 3 : 2;
    while (count < wanted && used < 3) {
        if (!splitUnitNumbers(at(fields, i + used), parts, wanted, count))
            return 0;
        ++used;
    }
    if (count != wanted)
        return 0;
    const std::size_t first = yearShown ? 1 : 0;
    if (!parts[first].unit || parts[first].digits > 2 || parts[first + 1].digits > 2)
        return 0;
    date.month = parts[first].value;
    date.day = parts[first + 1].value;
    if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31)
        return 0;
    if (yearShown) {
        date.year = parts[0].value;
        return parseClock(at(fields, i + used), date) ? used + 1 : used;
    }
    if (parseClock(at(fields, i + used), date))
        return used + 1;
    UnitNumber year[1];
    std::size_t yearCount = 0;
    if (!splitUnitNumbers(at(fields, i + used), year, 1, yearCount) || year[0].digits != 4)
        return 0;
    date.year = year[0].value;
    return used + 1;
}

// "3 29 03:26": month and day as bare numbers, then the time.
std::size_t plainMonthDay(const Fields& fields, std::size_t i, ListDate& date)
{
    const std::string_view month = at(fields, i);
    const std::string_view day = at(fields, i + 1);
    if (month.size() > 2 || day.size() > 2)
        return 0;
    date.month = smallValue(month);
    date.day = smallValue(day);
    return date.month >= 1 && date.month <= 12 && date.day >= 1 && date.day <= 31 &&
                   parseClock(at(fields, i + 2), date)
               ? 3
               : 0;
}

} // namespace

std::size_t readListDate(const Fields& fields, std::size_t i, DateForms forms, ListDate& date)
{
    using Form = std::size_t (*)(const Fields&, std::size_t, ListDate&);
    static constexpr Form kForms[] = {dayFirst, yearFirst, numericDate, monthDayPair, unitDate};
    date = ListDate{};
    if (forms == DateForms::Common)
        return monthFirst(fields, i, date);
    if (forms == DateForms::PlainNumbers)
        return plainMonthDay(fields, i, date);
    for (const Form form : kForms) {
        date = ListDate{};
        if (const std::size_t taken = form(fields, i, date))
            return taken;
    }
    return 0;
}

} // namespace listing
