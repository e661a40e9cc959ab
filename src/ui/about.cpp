#include "ui/about.h"

#include "ui/program_icon.h"
#include "ui/program_version.h"
#include "ui/update_check.h"
#include "ui_about.h"

namespace ui {

namespace {

// The program's web page: the download page on the update server.
QUrl WebPage() { return UpdateCheck::DownloadUrl(UpdateCheck::ConfiguredHost()); }

} // namespace

TFAbout::TFAbout(QWidget* parent, UrlOpener* opener)
    : QDialog(parent), fUi(std::make_unique<Ui::TFAbout>()), fOpener(opener != nullptr ? opener : &fDesktop)
{
    fUi->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    fUi->lbAbout->setText(QStringLiteral("Velloray - Version ") + ProgramVersion() + QStringLiteral(" beta"));
    fUi->Image1->setPixmap(ProgramIcon().pixmap(48, 48));
    const QString page = WebPage().toString();
    fUi->LinkLabel1->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(page.toHtmlEscaped()));
    fUi->LinkLabel1->setAccessibleName(QStringLiteral("Velloray's web page"));
    connect(fUi->LinkLabel1, &QLabel::linkActivated, this, [this] { LinkLabel1LinkClick(); });
}

TFAbout::~TFAbout() = default;

void TFAbout::LinkLabel1LinkClick() { fOpener->Open(WebPage()); }

} // namespace ui
