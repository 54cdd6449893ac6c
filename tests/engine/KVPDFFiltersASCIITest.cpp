// ASCII base-85 and ASCII hex.
#include "KVPDFFilters.h"

#include "KVPDFLog.h"
#include "support/FilterTestData.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

using namespace filtertest;

namespace {

const QByteArray kLeviathan =
    "Man is distinguished, by his reason, but by this singular passion from other animals, which is a lust "
    "of the mind, that by a perseverance of delight in the continued and indefatigable generation of "
    "knowledge, exceeds the short vehemence of any carnal pleasure.";
const QByteArray kLeviathan85 =
    "9jqo^BlbD-BleB1DJ+*+F(f,q/0JDI+D>J1+ED%%F)PqI+C]J8+C]U=FD,B0+EM77B6A$!EZf=0F)u&6DBNP3Df$V8FD,6++CT/%D..7%/"
    "0K.MBk(g!BlbD*+Dc1AF<GL6+EV:.+Dkh1A1SjFBOQ!*@X0))+E1n4F(KN+Ea`iqAKYo'+Co&\"BkM+$+DG^9FD,5.@rH7,Bl8')A0>;uA0>T("
    "A7]@]FD5Ar@VfTuB4YslEaa'(Df-\\9Aftl,Dg-#/A7oI)+D#e-AS#Cn+EV:.+EM47Ec`FIAS>XlASu!h+E(j7@;^?5@psCq@;I'*Ch7$rF`M%G~>";

TEST(KVPDFFiltersTest, ASCII85DecodesKnownAnswers)
{
    struct Case {
        const char *name;
        QByteArray input;
        QByteArray expected;
        bool ok;
        const char *logged;
    };
    const std::vector<Case> cases = {
        {"standard text vector", kLeviathan85, kLeviathan, true, nullptr},
        {"standard text vector with leading <~", "<~" + kLeviathan85, kLeviathan, true, nullptr},
        {"z stands for four zero bytes", "z~>", QByteArray(4, '\0'), true, nullptr},
        {"z between groups", "BOu!rzBOu!r~>", "hell" + QByteArray(4, '\0') + "hell", true, nullptr},
        {"largest group", "s8W-!~>", bytesOf({0xff, 0xff, 0xff, 0xff}), true, nullptr},
        {"final group of 2 digits gives 1 byte", "BE~>", "h", true, nullptr},
        {"final group of 3 digits gives 2 bytes", "BOq~>", "he", true, nullptr},
        {"final group of 4 digits gives 3 bytes", "BOtu~>", "hel", true, nullptr},
        {"full group and a final group of 2 digits", "BOu!rDZ~>", "hello", true, nullptr},
        {"lone final digit gives nothing", "BOu!rD~>", "hell", true, nullptr},
        {"white space, backspace and DEL are skipped", "BO u!\r\n\tr\x7f\bDZ~ \n>", "hello", true, nullptr},
        {"bytes after the end marker are ignored", "BE~>garbage", "h", true, nullptr},
        {"missing end marker decodes to the end", "BOu!rDZ", "hello", true, nullptr},
        {"empty data", "", "", true, nullptr},
        {"tilde without > keeps complete groups", "BOu!rDZ~x", "hell", false, "ASCII85Decode: ~ without > in ascii85 section"},
        {"tilde as the last byte", "BOu!r~", "hell", false, "ASCII85Decode: ~ without > in ascii85 section"},
        {"tilde followed only by white space", "BOu!r~  \n", "hell", false, "ASCII85Decode: ~ without > in ascii85 section"},
        {"z inside a group answers nothing", "BOu!rBOz~>", "", false, "ASCII85Decode: z inside ascii85 5-tuple"},
        {"bad character answers nothing", "BOu!rv~>", "", false, "ASCII85Decode: bad character in ascii85 region: 0166"},
        {"bad control character", "BO\x01u!r~>", "", false, "ASCII85Decode: bad character in ascii85 region: 01"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture log;
        const KVPDFFilterResult r = KVPDFStreamDecode85(c.input);
        EXPECT_EQ(r.data, c.expected);
        EXPECT_EQ(r.complete, c.ok);
        if (c.logged) {
            EXPECT_TRUE(log.contains(QString::fromLatin1(c.logged))) << log.messages.join(QLatin1Char('\n')).toStdString();
        } else {
            EXPECT_TRUE(log.messages.isEmpty()) << log.messages.join(QLatin1Char('\n')).toStdString();
        }
    }
}

TEST(KVPDFFiltersTest, ASCII85RoundTripsRandomData)
{
    Random r(85);
    for (int i = 0; i < 200; ++i) {
        QByteArray data = r.bytes(r.below(60));
        if (i % 5 == 0)
            data += QByteArray(4 + r.below(9), '\0');
        SCOPED_TRACE(data.toHex().toStdString());
        const KVPDFFilterResult r = KVPDFStreamDecode85(encode85(data));
        EXPECT_EQ(r.data, data);
        EXPECT_TRUE(r.complete);
    }
}

// ---------------------------------------------------------------------------------------------
// ASCII hex

TEST(KVPDFFiltersTest, ASCIIHexDecodesKnownAnswers)
{
    struct Case {
        const char *name;
        QByteArray input;
        QByteArray expected;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"upper and lower case digits", "48656C6c6F>", "Hello", true},
        {"white space is skipped", QByteArray(" 48 65\n6c\t6C\r\f6f") + '\0' + ">", "Hello", true},
        {"missing > decodes to the end", "4865", "He", true},
        {"odd final digit counts as followed by 0", "48656>", "He`", true},
        {"single digit", "7>", "p", true},
        {"bytes after > are ignored", "4865>zz", "He", true},
        {"empty data", ">", "", true},
        {"bad character keeps the decoded prefix", "48654G6c", "He", false},
        {"bad character right away", "x48", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const KVPDFFilterResult r = KVPDFDecodeASCIIHex(c.input);
        EXPECT_EQ(r.data, c.expected);
        EXPECT_EQ(r.complete, c.ok);
    }
}

} // namespace
