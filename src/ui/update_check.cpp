#include "ui/update_check.h"

#include "ui/logic/update_text.h"
#include "ui/program_version.h"
#include "ui/url_opener.h"

#include <QApplication>
#include <QNetworkReply>
#include <QNetworkRequest>

#ifndef VELLORAY_UPDATE_HOST
#define VELLORAY_UPDATE_HOST "localhost"
#endif

namespace ui {

UpdateCheck::UpdateCheck(platform::MessageBoxService& boxes, UrlOpener& opener, QObject* parent)
    : QObject(parent), fBoxes(boxes), fOpener(opener), fHost(ConfiguredHost())
{
    // No cache: every check asks the server.
    fNetwork.setCache(nullptr);
}

UpdateCheck::~UpdateCheck()
{
    if (fReply) {
        fReply->disconnect(this);
        fReply->abort();
        fReply->deleteLater();
    }
    RestoreCursor();
}

QString UpdateCheck::ConfiguredHost()
{
    const QString fromEnvironment = qEnvironmentVariable("VELLORAY_UPDATE_HOST");
    return fromEnvironment.isEmpty() ? QStringLiteral(VELLORAY_UPDATE_HOST) : fromEnvironment;
}

QUrl UpdateCheck::VersionUrl(const QString& host)
{
    return QUrl(QStringLiteral("http://") + host + QStringLiteral("/software/vellorayupdate.txt"));
}

QUrl UpdateCheck::DownloadUrl(const QString& host)
{
    return QUrl(QStringLiteral("http://") + host + QStringLiteral("/software/velloray.html"));
}

void UpdateCheck::Start()
{
    if (fReply)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    fCursorSet = true;
    fReceived.clear();
    fFull = false;

    QNetworkRequest request(VersionUrl(fHost));
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Velloray"));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    request.setTransferTimeout(fTimeoutMs);
    fReply = fNetwork.get(request);
    connect(fReply, &QNetworkReply::readyRead, this, &UpdateCheck::ReplyReadyRead);
    connect(fReply, &QNetworkReply::finished, this, &UpdateCheck::ReplyFinished);
}

void UpdateCheck::ReplyReadyRead()
{
    if (!fReply || fFull)
        return;
    fReceived += fReply->read(qint64(kUpdateReadLimit) - fReceived.size());
    if (fReceived.size() >= qsizetype(kUpdateReadLimit)) {
        // Enough for a verdict: the rest of a long document is not fetched.
        fFull = true;
        fReply->abort();
    }
}

void UpdateCheck::ReplyFinished()
{
    QNetworkReply* reply = fReply;
    if (!reply)
        return;
    fReply = nullptr;
    reply->deleteLater();
    if (!fFull)
        fReceived += reply->read(qint64(kUpdateReadLimit) - fReceived.size());

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool success = status >= 200 && status < 300 && (fFull || reply->error() == QNetworkReply::NoError);
    const std::string text = UpdateTextFromBytes(std::string_view(fReceived.constData(), size_t(fReceived.size())));
    const UpdateOutcome outcome =
        success ? ClassifyUpdateText(text, ProgramVersion().toStdString()) : UpdateOutcome::kUnreachable;

    // The box is answered with the ordinary cursor.
    RestoreCursor();
    if (outcome != UpdateOutcome::kNothing) {
        platform::MessageBoxRequest box;
        box.caption = "Update check";
        box.icon = platform::MessageIcon::kInformation;
        box.text = UpdateMessage(outcome, text);
        box.buttons = outcome == UpdateOutcome::kNewVersion ? platform::MessageButtons::kYesNo
                                                            : platform::MessageButtons::kOk;
        const platform::MessageResult answer = fBoxes.Show(box);
        if (outcome == UpdateOutcome::kNewVersion && answer == platform::MessageResult::kYes)
            fOpener.Open(DownloadUrl(fHost));
    }
    emit finished();
}

void UpdateCheck::RestoreCursor()
{
    if (fCursorSet) {
        fCursorSet = false;
        QApplication::restoreOverrideCursor();
    }
}

} // namespace ui
