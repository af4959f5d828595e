// Date built-ins: time (a date value as text) and TimeVal (text to a date
// value), and the calendar arithmetic of date values (see builtins.h).
#include <clocale>
#include <cmath>
#include <cstring>
#include <ctime>
#include <locale.h>
#include <strings.h>

#include "builtins/args.h"
#include "builtins/builtins.h"
#include "engine/scanner.h"
#include "platform/number_text.h"
#include "qotool/qolanguage.h"

namespace qotool::builtins {

namespace {

using engine::DispatchKey;
using engine::Key;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int* m, int* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *d = (int)(doy - (153 * mp + 2) / 5 + 1);
    *m = (int)(mp < 10 ? mp + 3 : mp - 9);
    *y = yoe + era * 400 + (*m <= 2);
}

constexpr int64_t kEpochOffset = 25569;  // days from 1899-12-30 to 1970-01-01

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

bool DateFromFields(int year, int month, int day, int hour, int minute, int second, double* date) {
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return false;
    const int64_t days = DaysFromCivil(year, month, day) + kEpochOffset;
    const double time = (hour * 3600 + minute * 60 + second) / 86400.0;
    *date = days >= 0 ? (double)days + time : (double)days - time;
    return true;
}

bool FieldsFromDate(double date, struct tm* out) {
    if (!(date > -1e7 && date < 1e7)) return false;
    const double whole = std::trunc(date);
    int64_t days = (int64_t)whole;
    int64_t seconds = std::llround(std::fabs(date - whole) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        ++days;
    }
    int64_t y;
    int m, d;
    CivilFromDays(days - kEpochOffset, &y, &m, &d);
    if (y < 100 || y > 9999) return false;
    memset(out, 0, sizeof *out);
    out->tm_year = (int)(y - 1900);
    out->tm_mon = m - 1;
    out->tm_mday = d;
    out->tm_hour = (int)(seconds / 3600);
    out->tm_min = (int)(seconds / 60 % 60);
    out->tm_sec = (int)(seconds % 60);
    out->tm_wday = (int)(((days % 7) + 7 + 6) % 7);  // 1899-12-30 was a Saturday
    out->tm_yday = (int)(days - kEpochOffset - DaysFromCivil(y, 1, 1));
    out->tm_isdst = -1;
    return true;
}

double CurrentDate() {
    const time_t now = time(nullptr);
    struct tm local;
    tzset();
    if (!localtime_r(&now, &local)) return 0;
    double date = 0;
    DateFromFields(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                   local.tm_sec < 60 ? local.tm_sec : 59, &date);
    return date;
}

namespace {

locale_t CLocale() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    return c;
}

// strftime in the C locale into text; the zone fields come from the local
// time zone for that date.
void FormatDate(const char* format, const struct tm& fields, CString& text) {
    struct tm tm = fields;
    struct tm probe = fields;
    tzset();
    if (mktime(&probe) != (time_t)-1) {
        tm.tm_isdst = probe.tm_isdst;
        tm.tm_gmtoff = probe.tm_gmtoff;
        tm.tm_zone = probe.tm_zone;
    }
    // The year is written with four digits at least ("0100"), as the
    // original date formatter wrote it, so that TimeVal reads it back. A
    // blank is appended so that an empty result is told from a buffer that
    // is too small.
    CString padded;
    for (const char* p = format; *p; ++p) {
        padded += *p;
        if (*p != '%' || !p[1]) continue;
        if (p[1] == 'Y') padded += "04";
        padded += *++p;
    }
    padded += ' ';
    for (size_t size = 256; size <= (1u << 20); size *= 4) {
        char* buf = text.GetBuffer((int)size);
        const size_t n = strftime_l(buf, size, padded.c_str(), &tm, CLocale());
        if (n) {
            text.ReleaseBuffer((int)n - 1);
            return;
        }
        text.ReleaseBuffer(0);
    }
    text.Empty();
}

Dispatched Time(CQoLanguage* qo, char*& cursor) {
    CString format;
    double date = CurrentDate();
    qo->ReadPara(0, cursor, "%s%g", &format, &date);
    qo->m_cType = 'S';
    struct tm fields;
    if (!FieldsFromDate(date, &fields)) {
        qo->m_strValue.Empty();
        qo->ReportError("输入日期不合法", cursor);
        return Dispatched::Value;
    }
    if (format.IsEmpty()) format = "%Y-%m-%d %H:%M:%S";
    CString text;
    FormatDate(format.c_str(), fields, text);
    qo->m_strValue = text;
    qo->m_cType = 'S';
    return Dispatched::Value;
}

// One numeric field of TimeVal: at most width characters read as an
// integer; then the digits among them and the non-digits after them are
// passed over.
int ReadField(const char*& p, int width) {
    char piece[8];
    int n = 0;
    while (n < width && p[n]) {
        piece[n] = p[n];
        ++n;
    }
    piece[n] = 0;
    const int value = (int)platform::ParseInt64(piece);
    int k = 0;
    while (k < n && p[k] >= '0' && p[k] <= '9') ++k;
    p += k;
    while (*p && !(*p >= '0' && *p <= '9')) ++p;
    return value;
}

Dispatched TimeVal(CQoLanguage* qo, char*& cursor) {
    CString text;
    double date = CurrentDate();
    qo->ReadPara('N', cursor, "%s", &text);
    if (!text.IsEmpty()) {
        const char* p = text.c_str();
        while (engine::IsBlank(*p)) ++p;
        int fields[6] = {0, 1, 1, 0, 0, 0};
        for (int i = 0; i < 6 && *p; ++i) fields[i] = ReadField(p, i == 0 ? 4 : 2);
        if (fields[0] < 100) fields[0] += 2000;
        if (!DateFromFields(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], &date)) {
            qo->m_cType = 'N';
            qo->m_dValue = 0;
            qo->ReportError("日期输入不对", cursor);
            return Dispatched::Value;
        }
    }
    qo->m_cType = 'N';
    qo->m_dValue = date;
    return Dispatched::Value;
}

}  // namespace

Dispatched Dates(CQoLanguage* qo, char*& cursor, const char* word) {
    switch (DispatchKey(word)) {
    case Key('t', 'i'):
        if (Is(word, "time")) return Time(qo, cursor);
        if (Is(word, "TimeVal")) return TimeVal(qo, cursor);
        break;
    default: break;
    }
    return Dispatched::None;
}

}  // namespace qotool::builtins
