#include "ui/url_opener.h"

#include <QDesktopServices>

namespace ui {

bool DesktopUrlOpener::Open(const QUrl& url) { return QDesktopServices::openUrl(url); }

} // namespace ui
