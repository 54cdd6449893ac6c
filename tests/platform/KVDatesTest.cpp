#include "KVDates.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

// CTest reruns this suite under TZ=Asia/Kolkata, TZ=America/New_York and LC_ALL=de_DE.UTF-8;
// the cases that pin a zone switch TZ themselves, so they check the same thing in every run.
// Expectations for local time come from the C library's localtime_r, an oracle independent of
// Qt.
class KVDatesTest : public testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_ALL, ""); }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

// Switches the process's local zone for one scope; nullptr keeps the zone the test runs in.
// Qt reads TZ again on every local-time conversion, so no restart is needed.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char *zone) : m_active(zone != nullptr)
    {
        if (!m_active)
            return;
        if (const char *previous = std::getenv("TZ"))
            m_previous = previous;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (!m_active)
            return;
        if (m_previous)
            setenv("TZ", m_previous->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    bool m_active;
    std::optional<std::string> m_previous;
};

// The zone the test runs in, one zone with daylight saving, one east of UTC by a half hour
// without it, and one whose daylight saving moves by half an hour.
const std::vector<const char *> kZones = {nullptr, "America/New_York", "Asia/Kolkata", "Australia/Lord_Howe"};

const char *zoneName(const char *zone) { return zone ? zone : "zone of the environment"; }

qint64 utcSeconds(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC).toSecsSinceEpoch();
}

struct tm localFields(qint64 seconds)
{
    const time_t t = time_t(seconds);
    struct tm fields { };
    localtime_r(&t, &fields);
    return fields;
}

QString twoDigits(long v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); }

struct ZonedCase {
    const char *name;
    const char *text;
    qint64 expectedUtc;
    int expectedOffset;
};

TEST_F(KVDatesTest, ExplicitZoneGivesSameInstantInEveryTimeZone)
{
    const int ist = 5 * 3600 + 30 * 60;
    const std::vector<ZonedCase> cases = {
        {"full form east", "D:20240307142501+05'30'", utcSeconds(2024, 3, 7, 8, 55, 1), ist},
        {"trailing apostrophe missing", "D:20240307142501+05'30", utcSeconds(2024, 3, 7, 8, 55, 1), ist},
        {"no apostrophes", "D:20240307142501+0530", utcSeconds(2024, 3, 7, 8, 55, 1), ist},
        {"zone hours only", "D:20240307142501+05", utcSeconds(2024, 3, 7, 9, 25, 1), 5 * 3600},
        {"zone hours with apostrophe", "D:20240307142501+05'", utcSeconds(2024, 3, 7, 9, 25, 1), 5 * 3600},
        {"junk after zone ignored", "D:20240307142501+05'30'x", utcSeconds(2024, 3, 7, 8, 55, 1), ist},
        {"west", "D:20240307142501-08'00'", utcSeconds(2024, 3, 7, 22, 25, 1), -8 * 3600},
        {"west crosses into next day", "D:20240307222501-08'00'", utcSeconds(2024, 3, 8, 6, 25, 1), -8 * 3600},
        {"east crosses into previous year", "D:20240101003000+01'00'", utcSeconds(2023, 12, 31, 23, 30, 0), 3600},
        {"Z alone", "D:20240307142501Z", utcSeconds(2024, 3, 7, 14, 25, 1), 0},
        {"Z with zero offset", "D:20240307142501Z00'00'", utcSeconds(2024, 3, 7, 14, 25, 1), 0},
        {"zero offset with sign", "D:20240115120000+00'00'", utcSeconds(2024, 1, 15, 12, 0, 0), 0},
        {"no prefix", "20240307142501Z", utcSeconds(2024, 3, 7, 14, 25, 1), 0},
        {"no seconds", "D:202403071425Z", utcSeconds(2024, 3, 7, 14, 25, 0), 0},
        {"hour only", "D:2024030714+01'00'", utcSeconds(2024, 3, 7, 13, 0, 0), 3600},
        // Summer in New York: a zoned date must not pick up the local daylight-saving hour.
        {"summer date west", "D:20240715120000-04'00'", utcSeconds(2024, 7, 15, 16, 0, 0), -4 * 3600},
        {"winter date west", "D:20240115120000-05'00'", utcSeconds(2024, 1, 15, 17, 0, 0), -5 * 3600},
        {"month 13 and day 32 clamp", "D:20241332120000Z", utcSeconds(2024, 12, 31, 12, 0, 0), 0},
        {"month and day 00 clamp", "D:20240000Z", utcSeconds(2024, 1, 1, 0, 0, 0), 0},
        {"day 30 of February clamps to leap day", "D:20240230Z", utcSeconds(2024, 2, 29, 0, 0, 0), 0},
        {"day 29 of February clamps in a common year", "D:20230229Z", utcSeconds(2023, 2, 28, 0, 0, 0), 0},
        {"hour 24, minute and second 60 clamp", "D:20240307246060Z", utcSeconds(2024, 3, 7, 23, 59, 59), 0},
        {"zone fields clamp", "D:20240307142501+99'99'", utcSeconds(2024, 3, 6, 14, 26, 1), 23 * 3600 + 59 * 60},
    };
    for (const char *zone : kZones) {
        const ScopedTimeZone scope(zone);
        SCOPED_TRACE(zoneName(zone));
        for (const auto &c : cases) {
            SCOPED_TRACE(c.name);
            const auto parsed = kvPDFDateParse(QString::fromLatin1(c.text));
            ASSERT_TRUE(parsed);
            ASSERT_TRUE(parsed->isValid());
            EXPECT_EQ(parsed->toSecsSinceEpoch(), c.expectedUtc);
            EXPECT_EQ(parsed->offsetFromUtc(), c.expectedOffset) << "the written offset is kept";
        }
    }
}

TEST_F(KVDatesTest, TextWithoutFourDigitYearIsNoDate)
{
    const std::vector<std::pair<const char *, QString>> cases = {
        {"empty", QString()},
        {"prefix only", QStringLiteral("D:")},
        {"three digits", QStringLiteral("D:202")},
        {"two-digit year", QStringLiteral("D:99Z")},
        {"year 0000 placeholder", QStringLiteral("D:00000101000000Z")},
        {"letters", QStringLiteral("D:abcd")},
        {"letter inside year", QStringLiteral("D:20a4")},
        {"leading space", QStringLiteral(" D:2024")},
        {"other script's digits", QString::fromUtf8("D:\u0662\u0660\u0662\u0664")},
    };
    for (const auto &[name, text] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(kvPDFDateParse(text), std::nullopt);
    }
}

TEST_F(KVDatesTest, YearAloneIsStartOfYearLocalTime)
{
    for (const char *zone : kZones) {
        const ScopedTimeZone scope(zone);
        SCOPED_TRACE(zoneName(zone));
        const auto parsed = kvPDFDateParse(QStringLiteral("D:2024"));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->timeSpec(), Qt::LocalTime);
        const struct tm fields = localFields(parsed->toSecsSinceEpoch());
        EXPECT_EQ(fields.tm_year + 1900, 2024);
        EXPECT_EQ(fields.tm_mon, 0);
        EXPECT_EQ(fields.tm_mday, 1);
        EXPECT_EQ(fields.tm_hour, 0);
        EXPECT_EQ(fields.tm_min, 0);
        EXPECT_EQ(fields.tm_sec, 0);
    }
}

TEST_F(KVDatesTest, NoZoneIsLocalTimeWithOffsetOfThatDate)
{
    const std::vector<std::pair<const char *, const char *>> cases = {
        {"summer", "D:20240715120000"},
        {"winter", "D:20240115120000"},
        {"summer, stray character where the zone goes", "D:20240715120000X"},
        {"winter, sign without zone hours", "D:20240115120000+"},
        {"winter, sign with one zone digit", "D:20240115120000-5"},
    };
    for (const char *zone : kZones) {
        const ScopedTimeZone scope(zone);
        SCOPED_TRACE(zoneName(zone));
        for (const auto &[name, text] : cases) {
            SCOPED_TRACE(name);
            const auto parsed = kvPDFDateParse(QString::fromLatin1(text));
            ASSERT_TRUE(parsed);
            EXPECT_EQ(parsed->timeSpec(), Qt::LocalTime);
            const struct tm fields = localFields(parsed->toSecsSinceEpoch());
            EXPECT_EQ(fields.tm_year + 1900, 2024);
            EXPECT_EQ(fields.tm_mday, 15);
            EXPECT_EQ(fields.tm_hour, 12);
            EXPECT_EQ(fields.tm_min, 0);
            EXPECT_EQ(parsed->offsetFromUtc(), fields.tm_gmtoff);
        }
    }
}

TEST_F(KVDatesTest, NoZoneInNewYorkTakesDaylightSavingOfThatDate)
{
    const ScopedTimeZone scope("America/New_York");
    const std::vector<std::pair<const char *, std::pair<const char *, qint64>>> cases = {
        {"summer is four hours west", {"D:20240715120000", utcSeconds(2024, 7, 15, 16, 0, 0)}},
        {"winter is five hours west", {"D:20240115120000", utcSeconds(2024, 1, 15, 17, 0, 0)}},
        {"last second before spring forward", {"D:20240310015959", utcSeconds(2024, 3, 10, 6, 59, 59)}},
        {"first second after spring forward", {"D:20240310030000", utcSeconds(2024, 3, 10, 7, 0, 0)}},
        // 02:30 does not exist that night; read with the offset before the change, it lands at
        // 03:30 daylight time.
        {"time skipped by spring forward", {"D:20240310023000", utcSeconds(2024, 3, 10, 7, 30, 0)}},
    };
    for (const auto &[name, c] : cases) {
        SCOPED_TRACE(name);
        const auto parsed = kvPDFDateParse(QString::fromLatin1(c.first));
        ASSERT_TRUE(parsed);
        ASSERT_TRUE(parsed->isValid());
        EXPECT_EQ(parsed->toSecsSinceEpoch(), c.second);
    }

    // 01:30 on 3 November 2024 happens twice; either instant is a fair reading.
    const auto repeated = kvPDFDateParse(QStringLiteral("D:20241103013000"));
    ASSERT_TRUE(repeated);
    const qint64 seconds = repeated->toSecsSinceEpoch();
    EXPECT_TRUE(seconds == utcSeconds(2024, 11, 3, 5, 30, 0) || seconds == utcSeconds(2024, 11, 3, 6, 30, 0)) << seconds;
}

struct FormatCase {
    const char *name;
    const char *zone;
    QDateTime value;
    QString expected;
};

TEST_F(KVDatesTest, FormatWritesLocalTimeWithOffsetOfThatDate)
{
    const QDateTime march = QDateTime(QDate(2024, 3, 7), QTime(14, 25, 1), Qt::UTC);
    const std::vector<FormatCase> cases = {
        {"UTC", "UTC", march, QStringLiteral("D:20240307142501Z00'00'")},
        {"east with minutes", "Asia/Kolkata", march, QStringLiteral("D:20240307195501+05'30'")},
        {"west in winter", "America/New_York", QDateTime(QDate(2024, 1, 15), QTime(17, 0), Qt::UTC),
         QStringLiteral("D:20240115120000-05'00'")},
        {"west in summer", "America/New_York", QDateTime(QDate(2024, 7, 15), QTime(16, 0), Qt::UTC),
         QStringLiteral("D:20240715120000-04'00'")},
        {"west with minutes", "America/St_Johns", march, QStringLiteral("D:20240307105501-03'30'")},
        {"date carrying its own offset is written in local time", "UTC",
         QDateTime(QDate(2024, 3, 7), QTime(14, 25, 1), Qt::OffsetFromUTC, 5 * 3600 + 30 * 60),
         QStringLiteral("D:20240307085501Z00'00'")},
        {"local date crosses midnight", "Asia/Kolkata", QDateTime(QDate(2023, 12, 31), QTime(20, 0), Qt::UTC),
         QStringLiteral("D:20240101013000+05'30'")},
        {"small year padded", "UTC", QDateTime(QDate(987, 1, 2), QTime(3, 4, 5), Qt::UTC),
         QStringLiteral("D:09870102030405Z00'00'")},
        {"invalid date", "UTC", QDateTime(), QString()},
        {"year beyond four digits", "UTC", QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC), QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ScopedTimeZone scope(c.zone);
        EXPECT_EQ(kvPDFDateString(c.value), c.expected);
    }
}

TEST_F(KVDatesTest, LocalFormatRoundTripsOnBothSidesOfDaylightSaving)
{
    const std::vector<std::pair<const char *, qint64>> instants = {
        {"summer", utcSeconds(2024, 7, 15, 16, 30, 45)},
        {"winter", utcSeconds(2024, 1, 15, 16, 30, 45)},
    };
    for (const char *zone : kZones) {
        const ScopedTimeZone scope(zone);
        SCOPED_TRACE(zoneName(zone));
        for (const auto &[name, utc] : instants) {
            SCOPED_TRACE(name);
            const QString text = kvPDFDateString(QDateTime::fromSecsSinceEpoch(utc, Qt::LocalTime));

            const struct tm fields = localFields(utc);
            const long offset = fields.tm_gmtoff;
            const long magnitude = offset < 0 ? -offset : offset;
            const QString expected =
                QStringLiteral("D:") + QString::number(fields.tm_year + 1900) + twoDigits(fields.tm_mon + 1)
                + twoDigits(fields.tm_mday) + twoDigits(fields.tm_hour) + twoDigits(fields.tm_min) + twoDigits(fields.tm_sec)
                + QLatin1Char(offset < 0    ? '-'
                              : offset == 0 ? 'Z'
                                            : '+')
                + twoDigits(magnitude / 3600) + QLatin1Char('\'') + twoDigits(magnitude % 3600 / 60) + QLatin1Char('\'');
            EXPECT_EQ(text, expected);

            const auto parsed = kvPDFDateParse(text);
            ASSERT_TRUE(parsed);
            EXPECT_EQ(parsed->toSecsSinceEpoch(), utc);
        }
    }
}

} // namespace
