#include "ui/about.h"

#include "ui/program_icon.h"
#include "ui/program_version.h"
#include "ui_about.h"

#include <QDesktopServices>

namespace ui {

TFAbout::TFAbout(QWidget* parent)
    : QDialog(parent), fUi(std::make_unique<Ui::TFAbout>()), fOpenUrl(&QDesktopServices::openUrl)
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

QUrl TFAbout::WebPage()
{
    return QUrl(QStringLiteral("http://" VELLORAY_UPDATE_HOST "/software/velloray.html"));
}

void TFAbout::LinkLabel1LinkClick() { fOpenUrl(WebPage()); }

} // namespace ui
