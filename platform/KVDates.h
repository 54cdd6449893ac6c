#pragma once
// PDF date text ("D:YYYYMMDDHHmmSSOHH'mm'") to and from QDateTime. Both directions are exact
// to the second in every time zone and on both sides of a daylight-saving change: the offset
// used is always the one in force at the date itself, never the one in force today. They read
// the process's time zone (TZ) at each call; thread-safe; never throw.
#include <QDateTime>
#include <QString>

#include <optional>

// Writes the instant `dt` names as local wall-clock time followed by the local offset from UTC
// in force at that instant (not today's): "D:20240307142501+05'30'"; a process running in UTC
// writes "Z00'00'", five hours west "-05'00'". Whatever zone `dt` carries only fixes the
// instant. Seconds of an offset (historic local mean time) are dropped. An invalid date, or one
// whose local year is outside 1..9999 and so does not fit four digits, gives an empty string.
QString kvPDFDateString(const QDateTime &dt);

// Reads a PDF date; the "D:" prefix is optional. Answers nullopt only when the text does not
// start with a four-digit year, or the year is 0000, which producers write for "no date".
// After the year, each field (month, day, hour, minute, second) is read while two digits
// follow; the first missing one ends the fields, with month and day defaulting to 1 and the
// time fields to 0. Out-of-range fields are clamped rather than refused, so a damaged date
// still shows something near what was meant: month 0 or 13 -> 1 or 12, day 0 -> 1, day 31 in
// a 30-day month -> 30, hour 24 -> 23, minute or second 60 -> 59.
//
// The zone after the fields is lenient:
//   "Z" (anything after it ignored)            -> UTC
//   "+HH'mm'", "+HH'mm", "+HHmm", "+HH", "+HH'" -> east of UTC by HH:mm (zone hours clamped to
//                                                 23, minutes to 59); "-" likewise west
//   nothing                                    -> the fields are local wall-clock time
//   anything else (a sign without two digits, a stray character) -> local time, with a warning
//                                                 logged
// Text after a recognised zone is ignored. With a zone the result carries that offset
// (Qt::OffsetFromUTC; Qt::UTC for zero) and denotes the instant fields − offset. Without one it
// is Qt::LocalTime; a wall-clock time skipped by a spring-forward change (02:30 on the night
// clocks go from 02:00 to 03:00) is read with the offset in force before the change, so it
// lands just after it (03:30).
std::optional<QDateTime> kvPDFDateParse(const QString &text);
