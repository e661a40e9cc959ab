// The about box: the version, what this build is made of, and a link to the program's web page.
#pragma once

#include "ui/url_opener.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TFAbout;
}

namespace ui {

class TFAbout : public QDialog {
    Q_OBJECT

public:
    // opener: how the web page is opened; null: the desktop's browser.
    explicit TFAbout(QWidget* parent = nullptr, UrlOpener* opener = nullptr);
    ~TFAbout() override;

    Ui::TFAbout& Form() { return *fUi; }

private:
    void LinkLabel1LinkClick();

    std::unique_ptr<Ui::TFAbout> fUi;
    DesktopUrlOpener fDesktop;
    UrlOpener* fOpener;
};

} // namespace ui
