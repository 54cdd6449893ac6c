// The services the engine asks of the program: what holds with nothing installed, and
// installers that put back what was there before.
#include "KVPDFServices.h"

#include <gtest/gtest.h>

TEST(KVPDFServicesTest, InstallersPutBackWhatWasInstalledBefore)
{
    const std::shared_ptr<const KVPDFServices> before = KVPDFServices::installed();
    ASSERT_TRUE(before);
    EXPECT_FALSE(before->redraw);
    EXPECT_FALSE(before->imagerPool);
    EXPECT_EQ(before->defaultPaper.orientedSize(), QSizeF(612, 792));
    EXPECT_TRUE(before->annotationFactories.isEmpty());
    EXPECT_TRUE(before->widgetFactories.isEmpty());
    EXPECT_TRUE(before->sessionFileNames);

    KVPDFServices a4;
    a4.defaultPaper = {QSizeF(595, 842), true};
    {
        KVPDFServices::Installer outer(a4);
        EXPECT_EQ(KVPDFServices::installed()->defaultPaper.orientedSize(), QSizeF(842, 595));
        {
            KVPDFServices redrawing;
            redrawing.redraw = [](const QByteArray &data) { return data; };
            redrawing.sessionFileNames = nullptr;
            KVPDFServices::Installer inner(std::move(redrawing));
            const std::shared_ptr<const KVPDFServices> now = KVPDFServices::installed();
            EXPECT_TRUE(now->redraw);
            EXPECT_EQ(now->defaultPaper.orientedSize(), QSizeF(612, 792)) << "an installer starts from what it is given";
            EXPECT_TRUE(now->sessionFileNames) << "an installed value always has a file-name table";
        }
        EXPECT_FALSE(KVPDFServices::installed()->redraw);
        EXPECT_EQ(KVPDFServices::installed()->defaultPaper.orientedSize(), QSizeF(842, 595));
    }
    EXPECT_EQ(KVPDFServices::installed(), before);
}
