#include "ui/about.h"
#include "ui_about.h"

#include <gtest/gtest.h>

namespace {

struct RecordingOpener : ui::UrlOpener {
    bool Open(const QUrl& url) override
    {
        opened.push_back(url);
        return true;
    }
    std::vector<QUrl> opened;
};

TEST(TFAbout, ShowsTheVersionAndOpensTheWebPageOnTheUpdateServer)
{
    qputenv("VELLORAY_UPDATE_HOST", "127.0.0.1:8123");
    RecordingOpener opener;
    ui::TFAbout about(nullptr, &opener);
    EXPECT_EQ(about.Form().lbAbout->text(), "Velloray - Version 0.9.83 beta");
    emit about.Form().LinkLabel1->linkActivated(QString());
    qunsetenv("VELLORAY_UPDATE_HOST");
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0].toString(), "http://127.0.0.1:8123/software/velloray.html");
}

} // namespace
