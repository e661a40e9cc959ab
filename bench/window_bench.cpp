// How quick the windows are, in a Release build: program start to the main window shown (from the
// moment the process started), selecting a photo to its embedded preview painted, and the longest
// stretch in which the window handled no events during a "Regular" conversion of that photo.
//   window_bench PHOTO.dng [FOLDER]    (under xvfb-run -a, or with QT_QPA_PLATFORM=offscreen)
// With a folder, the result is saved there automatically, so that writing is measured too.
// Settings go to a temporary file; message boxes are printed and answered with OK or Yes.
#include "ui/explorer.h"
#include "ui/main.h"
#include "ui/bitmap_view.h"
#include "ui/program_icon.h"
#include "ui/velloray_application.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// Seconds since this process was started by the system (clock ticks of /proc, 10 ms steps).
double SecondsSinceProcessStart()
{
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    // Field 22 (start time) counts from the field after the command's closing parenthesis (field 3).
    std::size_t at = line.rfind(')') + 2;
    for (int field = 3; field < 22; ++field) at = line.find(' ', at) + 1;
    const double started = std::stod(line.substr(at)) / static_cast<double>(sysconf(_SC_CLK_TCK));
    double uptime = 0;
    std::ifstream("/proc/uptime") >> uptime;
    return uptime - started;
}

class AnsweringBoxes : public platform::MessageBoxService {
public:
    platform::MessageResult Show(const platform::MessageBoxRequest& request) override
    {
        std::printf("message \"%s\": %s\n", request.caption.c_str(), request.text.c_str());
        return request.buttons == platform::MessageButtons::kOk || request.buttons == platform::MessageButtons::kOkCancel
                   ? platform::MessageResult::kOk
                   : platform::MessageResult::kYes;
    }
};

// Handles events until done() holds (or ten minutes pass).
template <class Done> void PumpUntil(Done done)
{
    QElapsedTimer limit;
    limit.start();
    while (!done() && limit.elapsed() < 600000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

int main(int argc, char** argv)
{
    ui::VellorayApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Velloray"));
    QApplication::setWindowIcon(ui::ProgramIcon());
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_bench PHOTO.dng [FOLDER]\n");
        return 2;
    }
    const QFileInfo photo(QString::fromLocal8Bit(argv[1]));
    AnsweringBoxes boxes;
    app.SetMessageBoxes(&boxes);
    QTemporaryDir settings;

    ui::TFMain mainWindow(ui::TFMainServices{&boxes, nullptr, settings.filePath("Velloray.ini").toStdString()});
    mainWindow.resize(1366, 740);
    mainWindow.show();
    PumpUntil([&] { return mainWindow.windowHandle() != nullptr && mainWindow.windowHandle()->isExposed(); });
    QCoreApplication::processEvents(); // the first paint follows the exposure
    std::printf("start to main window shown: %.3f s (target < 1 s)\n", SecondsSinceProcessStart());

    auto* explorer = mainWindow.findChild<ui::Explorer*>();
    auto* embedded = mainWindow.findChild<ui::BitmapView*>(QStringLiteral("imgJPG"));
    auto* start = mainWindow.findChild<QPushButton*>(QStringLiteral("btCalculate"));
    auto* autoSave = mainWindow.findChild<QCheckBox*>(QStringLiteral("cbAutoSave"));
    auto* folder = mainWindow.findChild<QLabel*>(QStringLiteral("lbFolder"));
    if (explorer == nullptr || embedded == nullptr || start == nullptr || autoSave == nullptr || folder == nullptr) {
        std::fprintf(stderr, "the main window lacks the explorer, imgJPG, btCalculate, cbAutoSave or lbFolder\n");
        return 1;
    }
    if (argc > 2) {
        const QSignalBlocker quiet(autoSave); // no folder chooser
        autoSave->setChecked(true);
        folder->setText(QDir(QString::fromLocal8Bit(argv[2])).absolutePath());
    }
    explorer->ShowFolder(photo.absolutePath());
    const int row = static_cast<int>(explorer->ListedPaths().indexOf(photo.absoluteFilePath()));
    if (row < 0) {
        std::fprintf(stderr, "%s is not listed\n", argv[1]);
        return 1;
    }
    QCoreApplication::processEvents();

    QElapsedTimer clock;
    clock.start();
    explorer->List()->selectionModel()->select(explorer->List()->model()->index(row, 0),
                                               QItemSelectionModel::ClearAndSelect);
    PumpUntil([&] { return embedded->HasPicture(); });
    embedded->repaint();
    std::printf("selection to embedded preview shown: %.3f s (target < 0.3 s)\n", clock.nsecsElapsed() * 1e-9);

    // A timer that fires whenever events are handled: the longest gap between two firings is the
    // longest time the window did not respond. The status line tells where in the run it was.
    auto* status = mainWindow.findChild<QLabel*>(QStringLiteral("lbStatus"));
    QString lastStatus, longestFrom, longestTo;
    qint64 last = 0, longest = 0;
    QTimer beat;
    beat.setInterval(0);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const QString statusNow = status != nullptr ? status->text() : QString();
        if (now - last > longest) {
            longest = now - last;
            longestFrom = lastStatus;
            longestTo = statusNow;
        }
        last = now;
        lastStatus = statusNow;
    });
    QCoreApplication::processEvents();
    beat.start();
    clock.restart();
    last = 0;
    lastStatus = status != nullptr ? status->text() : QString();
    start->click(); // returns when the run has returned
    const double run = clock.nsecsElapsed() * 1e-9;
    if (clock.nsecsElapsed() - last > longest) {
        longest = clock.nsecsElapsed() - last;
        longestFrom = lastStatus;
        longestTo = QStringLiteral("(the run has returned)");
    }
    beat.stop();
    std::printf("\"Regular\" conversion: %.2f s, longest stretch without event handling: %.3f s (target < 0.25 s)\n"
                "  from status \"%s\" to \"%s\"\n",
                run, longest * 1e-9, qPrintable(longestFrom), qPrintable(longestTo));
    return 0;
}
