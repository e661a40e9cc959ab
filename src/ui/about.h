// The about box: the version, what this build is made of, and a link to the program's web page.
#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>
#include <memory>

namespace Ui {
class TFAbout;
}

namespace ui {

class TFAbout : public QDialog {
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    explicit TFAbout(QWidget* parent = nullptr);
    ~TFAbout() override;

    // The web page opener (the desktop's browser unless a test answers it).
    void SetUrlOpener(UrlOpener opener) { fOpenUrl = std::move(opener); }
    // The program's web page, on the update server's host.
    static QUrl WebPage();

    Ui::TFAbout& Form() { return *fUi; }

private:
    void LinkLabel1LinkClick();

    std::unique_ptr<Ui::TFAbout> fUi;
    UrlOpener fOpenUrl;
};

} // namespace ui
