// RunLengthDecode.
#include "KVPDFFilters.h"

#include "support/FilterTestData.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

using namespace filtertest;

namespace {

TEST(KVPDFFiltersTest, RunLengthDecodesKnownAnswers)
{
    struct Case {
        const char *name;
        QByteArray input;
        QByteArray expected;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"literal run then repeat", bytesOf({2, 'a', 'b', 'c', 254, 'x', 128}), "abcxxx", true},
        {"shortest repeat", bytesOf({255, 'y', 128}), "yy", true},
        {"longest repeat", bytesOf({129, 'z', 128}), QByteArray(128, 'z'), true},
        {"longest literal run", QByteArray(1, char(127)) + QByteArray(128, 'q') + char(128), QByteArray(128, 'q'), true},
        {"missing end of data", bytesOf({0, 'a', 253, 'b'}), "abbbb", true},
        {"bytes after end of data are ignored", bytesOf({0, 'a', 128, 0, 'b'}), "a", true},
        {"end of data first", bytesOf({128, 0, 'b'}), "", true},
        {"literal run cut short keeps its bytes", bytesOf({5, 'a', 'b'}), "ab", false},
        {"repeat without its byte", bytesOf({2, 'a', 'b', 'c', 200}), "abc", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const KVPDFFilterResult r = KVPDFDecodeRunLength(c.input);
        EXPECT_EQ(r.data, c.expected);
        EXPECT_EQ(r.complete, c.ok);
    }
}

TEST(KVPDFFiltersTest, RunLengthStopsAtOutputCap)
{
    QByteArray input;
    for (int i = 0; i < 10; ++i)
        input += bytesOf({129, 'a'});
    const KVPDFFilterResult capped = KVPDFDecodeRunLength(input, 300);
    EXPECT_EQ(capped.data, QByteArray(300, 'a'));
    EXPECT_FALSE(capped.complete);
    const KVPDFFilterResult whole = KVPDFDecodeRunLength(input, 1280);
    EXPECT_EQ(whole.data, QByteArray(1280, 'a'));
    EXPECT_TRUE(whole.complete);
}

} // namespace
