#include "KVDates.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdlib>

namespace {

// Explicit ASCII checks: QChar::isDigit also accepts other scripts' digits, which no PDF date
// contains and which would not convert with a subtraction from '0'.
bool digitAt(const QString &text, qsizetype i)
{
    return i >= 0 && i < text.size() && text[i].unicode() >= u'0' && text[i].unicode() <= u'9';
}

// The value of the two digits at i, or -1 when two digits do not follow.
int twoDigitsAt(const QString &text, qsizetype i)
{
    if (!digitAt(text, i) || !digitAt(text, i + 1))
        return -1;
    return (text[i].unicode() - u'0') * 10 + (text[i + 1].unicode() - u'0');
}

void appendDigits(QByteArray &out, int value, int width)
{
    char digits[8];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = char('0' + value % 10);
        value /= 10;
    }
    out.append(digits, width);
}

QDateTime localWallClock(const QDate &date, const QTime &time)
{
    QDateTime local(date, time, Qt::LocalTime);
    if (local.isValid())
        return local;
    // Qt refuses a wall-clock time that a spring-forward change skips. Read it with the offset
    // in force a day earlier, before the change: transitions are months apart, and a day
    // exceeds any offset, so that instant lies safely before the gap.
    const qint64 wallAsUtc = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    const int offsetBefore = QDateTime::fromSecsSinceEpoch(wallAsUtc - 86400, Qt::LocalTime).offsetFromUtc();
    return QDateTime::fromSecsSinceEpoch(wallAsUtc - offsetBefore, Qt::LocalTime);
}

} // namespace

QString kvPDFDateString(const QDateTime &dt)
{
    if (!dt.isValid())
        return {};
    const QDateTime local = dt.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    if (date.year() < 1 || date.year() > 9999)
        return {};

    // Built digit by digit: QDateTime::toString and QLocale could bring in the user's digits
    // or calendar.
    QByteArray out("D:");
    appendDigits(out, date.year(), 4);
    appendDigits(out, date.month(), 2);
    appendDigits(out, date.day(), 2);
    appendDigits(out, time.hour(), 2);
    appendDigits(out, time.minute(), 2);
    appendDigits(out, time.second(), 2);

    const int offset = local.offsetFromUtc();
    out.append(offset < 0 ? '-' : offset == 0 ? 'Z' : '+');
    const int magnitude = std::abs(offset);
    appendDigits(out, magnitude / 3600 % 100, 2);
    out.append('\'');
    appendDigits(out, magnitude % 3600 / 60, 2);
    out.append('\'');
    return QString::fromLatin1(out);
}

std::optional<QDateTime> kvPDFDateParse(const QString &text)
{
    qsizetype i = text.startsWith(QLatin1String("D:")) ? 2 : 0;

    const int century = twoDigitsAt(text, i);
    const int yearInCentury = twoDigitsAt(text, i + 2);
    if (century < 0 || yearInCentury < 0)
        return std::nullopt;
    const int year = century * 100 + yearInCentury;
    if (year == 0)
        return std::nullopt;
    i += 4;

    // month, day, hour, minute, second
    int fields[5] = {1, 1, 0, 0, 0};
    for (int &field : fields) {
        const int value = twoDigitsAt(text, i);
        if (value < 0)
            break;
        field = value;
        i += 2;
    }
    const int month = std::clamp(fields[0], 1, 12);
    const int day = std::clamp(fields[1], 1, QDate(year, month, 1).daysInMonth());
    const QDate date(year, month, day);
    const QTime time(std::min(fields[2], 23), std::min(fields[3], 59), std::min(fields[4], 59));

    std::optional<int> offset;
    if (i < text.size()) {
        const char16_t zone = text[i].unicode();
        if (zone == u'Z') {
            offset = 0;
        } else if (zone == u'+' || zone == u'-') {
            const int hours = twoDigitsAt(text, i + 1);
            if (hours >= 0) {
                qsizetype j = i + 3;
                if (j < text.size() && text[j] == QLatin1Char('\''))
                    ++j;
                const int minutes = std::max(twoDigitsAt(text, j), 0);
                const int seconds = std::min(hours, 23) * 3600 + std::min(minutes, 59) * 60;
                offset = zone == u'-' ? -seconds : seconds;
            }
        }
        if (!offset)
            qWarning("Unexpected UT offset in date string");
    }

    if (offset)
        return QDateTime(date, time, Qt::OffsetFromUTC, *offset);
    return localWallClock(date, time);
}
