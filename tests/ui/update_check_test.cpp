// The update check against a small HTTP server on 127.0.0.1.
#include "ui/update_check.h"
#include "ui/url_opener.h"

#include "../engine/fake_engine_ui.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {

// Answers every request with one canned reply; an empty reply keeps the connection open silently.
class TestServer : public QObject {
public:
    explicit TestServer(QByteArray reply) : fReply(std::move(reply))
    {
        EXPECT_TRUE(fServer.listen(QHostAddress::LocalHost));
        connect(&fServer, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = fServer.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                fRequest += socket->readAll();
                if (!fRequest.contains("\r\n\r\n") || fReply.isEmpty())
                    return;
                socket->write(fReply);
                socket->disconnectFromHost();
            });
        });
    }
    QString Host() const { return QStringLiteral("127.0.0.1:%1").arg(fServer.serverPort()); }
    QByteArray fRequest;

private:
    QTcpServer fServer;
    QByteArray fReply;
};

QByteArray Http(int status, const QByteArray& body)
{
    return "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Not Found") +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

class FakeOpener : public ui::UrlOpener {
public:
    bool Open(const QUrl& url) override
    {
        opened.push_back(url);
        return true;
    }
    std::vector<QUrl> opened;
};

constexpr const char* kDisconnected = "Cannot check for updates...\n\nYou might be disconnected from the Internet or "
                                      "the update server might be down.\n\nPlease try again later.";
constexpr const char* kLacking =
    "Cannot check for updates...\n\nThe right information seems to be lacking on the update server.\n\n"
    "Please try again later.";

TEST(UpdateCheck, TellsTheOutcomeOfEachAnswer)
{
    using platform::MessageResult;
    struct Case {
        std::string name;
        QByteArray reply;    // empty: the server stalls
        std::string message; // empty: no box
        MessageResult answer = MessageResult::kOk;
        bool opens = false;
        bool closedPort = false;
    };
    const std::string newer = "A new version (0.9.84) of Velloray is available.\n\nDo you want to download it now?";
    const Case cases[] = {
        {"current", Http(200, "0.9.83"), "No update of Velloray is available.\n\nYou are using the latest version."},
        {"newer, Yes", Http(200, "0.9.84"), newer, MessageResult::kYes, true},
        {"older, No", Http(200, "0.9.82"),
         "A new version (0.9.82) of Velloray is available.\n\nDo you want to download it now?", MessageResult::kNo},
        {"line end", Http(200, "0.9.83\r\n"), kLacking},
        {"empty", Http(200, ""), ""},
        {"600 bytes", Http(200, QByteArray(600, '9')), kLacking},
        {"404 page", Http(404, QByteArray(600, '<')), kDisconnected}, // longer than what is read
        {"stalling", QByteArray(), kDisconnected},
        {"closed port", QByteArray(), kDisconnected, MessageResult::kOk, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto server = std::make_unique<TestServer>(c.reply);
        const QString host = server->Host();
        if (c.closedPort)
            server.reset(); // the port was free a moment ago and has no listener now
        enginetest::FakeMessageBoxes boxes;
        boxes.answers.push_back(c.answer);
        FakeOpener opener;
        ui::UpdateCheck check(boxes, opener);
        check.SetHost(host);
        check.SetTimeout(400);
        QSignalSpy done(&check, &ui::UpdateCheck::finished);
        check.Start();
        check.Start(); // a second click while it runs starts nothing
        ASSERT_TRUE(check.Running());
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        ASSERT_TRUE(done.wait(5000));
        EXPECT_FALSE(check.Running());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        if (server) {
            EXPECT_TRUE(server->fRequest.startsWith("GET /software/vellorayupdate.txt HTTP/1.1\r\n"));
            EXPECT_TRUE(server->fRequest.contains("\r\nUser-Agent: Velloray\r\n"));
        }
        if (c.message.empty()) {
            EXPECT_TRUE(boxes.shown.empty());
        } else {
            ASSERT_EQ(boxes.shown.size(), 1u);
            EXPECT_EQ(boxes.shown[0].text, c.message);
            EXPECT_EQ(boxes.shown[0].caption, "Update check");
            EXPECT_EQ(boxes.shown[0].icon, platform::MessageIcon::kInformation);
        }
        ASSERT_EQ(opener.opened.size(), c.opens ? 1u : 0u);
        if (c.opens) {
            EXPECT_EQ(opener.opened[0], QUrl("http://" + host + "/software/velloray.html"));
        }
    }
}

TEST(UpdateCheck, TheHostComesFromTheEnvironmentWhenSet)
{
    qputenv("VELLORAY_UPDATE_HOST", "127.0.0.1:9");
    EXPECT_EQ(ui::UpdateCheck::ConfiguredHost(), "127.0.0.1:9");
    qunsetenv("VELLORAY_UPDATE_HOST");
    EXPECT_NE(ui::UpdateCheck::ConfiguredHost(), "127.0.0.1:9");
}

} // namespace
