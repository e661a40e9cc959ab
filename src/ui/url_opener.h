// Opening a web page in the user's browser, behind an interface that tests replace.
#pragma once

#include <QUrl>

namespace ui {

class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual bool Open(const QUrl& url) = 0;
};

// The desktop's browser (QDesktopServices).
class DesktopUrlOpener : public UrlOpener {
public:
    bool Open(const QUrl& url) override;
};

} // namespace ui
