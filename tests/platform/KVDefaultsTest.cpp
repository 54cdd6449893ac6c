#include "KVDefaults.h"
#include "KVDefaultsPeerValues.h"
#include "KVNotificationCenter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <QColor>

#include <clocale>
#include <cmath>

namespace {

// Reruns under LC_ALL=de_DE.UTF-8: the file must keep its points.
class KVDefaultsTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::setlocale(LC_ALL, "");
        ASSERT_TRUE(m_dir.isValid());
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
    QString path() const { return m_dir.filePath(QStringLiteral("Folivo.json")); }

    QTemporaryDir m_dir;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(KVDefaultsTest, EveryKindKeepsItsTypeThroughTheFile)
{
    {
        KVDefaults defaults(path());
        for (const auto &[key, value] : kvDefaultsPeerValues())
            ASSERT_TRUE(defaults.setObject(key, value)) << key.toStdString();
        ASSERT_TRUE(defaults.synchronize());
    }
    const QByteArray text = readFile(path());
    EXPECT_TRUE(text.contains("\"integralReal\": 36.0")) << text.constData();
    EXPECT_TRUE(text.contains("\"real\": 0.5")) << text.constData();

    KVDefaults reread(path());
    for (const auto &[key, value] : kvDefaultsPeerValues()) {
        SCOPED_TRACE(key.toStdString());
        const QVariant read = reread.objectForKey(key);
        EXPECT_EQ(read.typeId(), value.typeId()) << read.typeName();
        EXPECT_EQ(read, value);
    }
}

TEST_F(KVDefaultsTest, ASecondProcessReadsWhatWasSynchronised)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path());
    const auto run = [&](const char *mode) {
        QProcess peer;
        peer.setProcessEnvironment(env);
        peer.start(QStringLiteral(FOLIVO_DEFAULTS_PEER), {QString::fromLatin1(mode)});
        EXPECT_TRUE(peer.waitForFinished(30000));
        return std::pair{peer.exitCode(), peer.readAllStandardOutput()};
    };
    const auto [written, writerOut] = run("write");
    ASSERT_EQ(written, 0) << writerOut.constData();
    const QString file = m_dir.filePath(QStringLiteral("quorvane/Folivo.json"));
    EXPECT_TRUE(writerOut.startsWith(file.toUtf8())) << writerOut.constData();

    const auto [read, readerOut] = run("read");
    EXPECT_EQ(read, 0) << readerOut.constData();

    QProcess grep;
    grep.start(QStringLiteral("grep"), {QStringLiteral("-q"), QStringLiteral("\"TRUE\""), file});
    ASSERT_TRUE(grep.waitForFinished(10000));
    EXPECT_EQ(grep.exitCode(), 0) << "the flag is stored as the string it is";
}

TEST_F(KVDefaultsTest, AbsentKeysAreNotZeroAndReadersTakeTheCallersFallback)
{
    KVDefaults defaults(path());
    defaults.setInteger(QStringLiteral("zero"), 0);
    EXPECT_TRUE(defaults.contains(QStringLiteral("zero")));
    EXPECT_FALSE(defaults.contains(QStringLiteral("absent")));
    EXPECT_FALSE(defaults.objectForKey(QStringLiteral("absent")).isValid());
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("zero"), 18), 0);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("absent"), 18), 18);
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("absent"), 1.5), 1.5);
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("absent"), true));
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("absent"), QStringLiteral("x")), QStringLiteral("x"));

    defaults.setObject(QStringLiteral("list"), QVariantList{1});
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("list"), 18), 18) << "a list is no number";
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("list"), QStringLiteral("x")), QStringLiteral("x"));
    EXPECT_EQ(defaults.dictionaryForKey(QStringLiteral("list")), QVariantMap());
    defaults.setString(QStringLiteral("word"), QStringLiteral("abc"));
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("word"), 18), 18);
    defaults.setString(QStringLiteral("number"), QStringLiteral(" 2.5 "));
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("number")), 2.5);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("number")), 2);
    defaults.setDouble(QStringLiteral("huge"), 1e300);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("huge")), INT64_MAX);

    defaults.removeObject(QStringLiteral("zero"));
    EXPECT_FALSE(defaults.contains(QStringLiteral("zero")));
}

TEST_F(KVDefaultsTest, FlagsAndStoredValuesCoerceToBooleansAsThePlatformDid)
{
    KVDefaults defaults(path());
    struct Case {
        const char *name;
        QVariant stored;
        bool expected;
    };
    const Case cases[] = {
        {"TRUE", QStringLiteral("TRUE"), true},
        {"true", QStringLiteral("true"), true},
        {"YES", QStringLiteral("YES"), true},
        {"yes with blanks", QStringLiteral(" yes "), true},
        {"the string 1", QStringLiteral("1"), true},
        {"the string 0", QStringLiteral("0"), false},
        {"FALSE", QStringLiteral("FALSE"), false},
        {"on", QStringLiteral("on"), false},
        {"empty string", QString(), false},
        {"integer 1", qlonglong(1), true},
        {"integer 0", qlonglong(0), false},
        {"real 0.5", 0.5, true},
        {"boolean true", true, true},
        {"boolean false", false, false},
        {"a list", QVariantList{true}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(defaults.setObject(QStringLiteral("flag"), c.stored));
        EXPECT_EQ(defaults.boolForKey(QStringLiteral("flag")), c.expected);
    }

    defaults.setFlag(QStringLiteral("welcomeVisible"), false);
    EXPECT_EQ(defaults.objectForKey(QStringLiteral("welcomeVisible")), QVariant(QStringLiteral("FALSE")));
    defaults.setString(QStringLiteral("welcomeVisible"), QStringLiteral("True"));
    EXPECT_EQ(defaults.flagForKey(QStringLiteral("welcomeVisible")), QStringLiteral("TRUE"));
    EXPECT_EQ(defaults.flagForKey(QStringLiteral("absent")), QString());
}

TEST_F(KVDefaultsTest, ValuesTheFileCannotKeepAreRefusedAndNothingIsStored)
{
    KVDefaults defaults(path());
    struct Case {
        const char *name;
        QVariant value;
    };
    const Case cases[] = {
        {"a colour", QColor(Qt::red)},
        {"no value", QVariant()},
        {"not a number", std::nan("")},
        {"an infinity", HUGE_VAL},
        {"a colour inside a list", QVariantList{1, QColor(Qt::red)}},
        {"a map that would read back as data", QVariantMap{{"$data", QStringLiteral("AA==")}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(defaults.setObject(QStringLiteral("k"), c.value));
        EXPECT_FALSE(defaults.contains(QStringLiteral("k")));
    }
}

TEST_F(KVDefaultsTest, AFileThatDoesNotParseIsNeverOverwritten)
{
    const QByteArray damaged = "{\n  \"gridlineEvery\": 36.0,\n  \"defaultfont\": \"Helv";
    struct Case {
        const char *name;
        QByteArray text;
    };
    const Case cases[] = {
        {"cut short", damaged},
        {"not an object", "[1, 2]"},
        {"trailing text", "{} x"},
        {"nested too deep", "{\"a\": " + QByteArray(100, '[') + QByteArray(100, ']') + "}"},
        {"a bad escape", "{\"a\": \"\\q\"}"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        {
            QFile file(path());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(c.text);
        }
        KVDefaults defaults(path());
        EXPECT_FALSE(defaults.contains(QStringLiteral("gridlineEvery")));
        defaults.setInteger(QStringLiteral("keyboardIncrement"), 2);
        EXPECT_EQ(defaults.integerForKey(QStringLiteral("keyboardIncrement")), 2) << "kept in memory";
        EXPECT_FALSE(defaults.synchronize());
        EXPECT_EQ(readFile(path()), c.text);
        EXPECT_FALSE(KVDefaults::parseSettingsText(c.text).has_value());
    }
}

TEST_F(KVDefaultsTest, EverySetAndRemoveIsReportedWithItsKey)
{
    KVDefaults defaults(path());
    KVDefaults other(m_dir.filePath(QStringLiteral("Other.json")));
    QStringList heard;
    const KVObservation observation =
        KVNotificationCenter::defaultCenter().observe(KVDefaultsDidChangeNotification, &defaults, [&](const KVNotification &note) {
            const QString key = note.userInfo.value(QStringLiteral("key")).toString();
            // A handler may use the store it hears from.
            heard << key + QLatin1Char('=') + defaults.stringForKey(key, QStringLiteral("absent"));
        });
    defaults.setBool(QStringLiteral("a"), true);
    other.setBool(QStringLiteral("b"), true);
    defaults.removeObject(QStringLiteral("a"));
    EXPECT_FALSE(defaults.setObject(QStringLiteral("refused"), QColor(Qt::red)));
    EXPECT_EQ(heard, (QStringList{QStringLiteral("a=1"), QStringLiteral("a=absent")}));
}

} // namespace
