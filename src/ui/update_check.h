// The update check behind the main window's "Update?" button: one download of the version text
// "vellorayupdate.txt" from the maker's server, compared with the program's own version, and the
// outcome told in a message box. The download runs while the window stays responsive; the
// caller disables its button until finished() and the wait cursor shows meanwhile.
#pragma once

#include "platform/message_box.h"

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>


namespace ui {

class UrlOpener;

class UpdateCheck : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 30000;

    UpdateCheck(platform::MessageBoxService& boxes, UrlOpener& opener, QObject* parent = nullptr);
    ~UpdateCheck() override;

    // The server: the build's host, or the environment variable VELLORAY_UPDATE_HOST when set
    // (a host, optionally with ":port").
    static QString ConfiguredHost();
    static QUrl VersionUrl(const QString& host);
    static QUrl DownloadUrl(const QString& host);

    void SetHost(const QString& host) { fHost = host; }
    // A transfer that makes no progress for this long fails as "disconnected".
    void SetTimeout(int milliseconds) { fTimeoutMs = milliseconds; }
    bool Running() const { return fReply != nullptr; }

    // Starts the check (nothing when one runs already).
    void Start();

signals:
    // The outcome was shown (or there was none); the cursor is back.
    void finished();

private:
    void ReplyReadyRead();
    void ReplyFinished();
    void RestoreCursor();

    platform::MessageBoxService& fBoxes;
    UrlOpener& fOpener;
    QNetworkAccessManager fNetwork;
    QString fHost;
    int fTimeoutMs = kDefaultTimeoutMs;
    QPointer<QNetworkReply> fReply;
    QByteArray fReceived;
    bool fFull = false;        // the read limit was reached and the transfer stopped
    bool fCursorSet = false;
};

} // namespace ui
