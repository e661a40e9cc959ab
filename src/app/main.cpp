// The program's entry: reads the command line and asks its questions, makes sure that one instance
// runs per user, then opens the main window and handles events until it closes.
#include "ui/logic/command_line.h"
#include "ui/logic/program_globals.h"
#include "ui/logic/program_start.h"
#include "ui/main.h"
#include "ui/program_icon.h"
#include "ui/program_version.h"
#include "ui/qt_message_boxes.h"
#include "ui/single_instance.h"
#include "ui/velloray_application.h"

#include <QFile>

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    ui::VellorayApplication app(argc, argv);
    // The application name stays the executable's: the instance lock compares it with the running
    // process's name to tell a live lock from one left behind.
    QApplication::setApplicationDisplayName(QStringLiteral("Velloray"));
    QApplication::setApplicationVersion(ui::ProgramVersion());
    QApplication::setWindowIcon(ui::ProgramIcon());
    ui::QtMessageBoxService boxes; // the boxes of start have no owner window
    app.SetMessageBoxes(&boxes);

    // The arguments Qt has not taken, as the bytes they were given in (paths stay file names).
    std::vector<std::string> arguments;
    const QStringList given = QApplication::arguments();
    for (qsizetype i = 1; i < given.size(); ++i) arguments.push_back(QFile::encodeName(given[i]).toStdString());
    if (!ui::PrepareStart(ui::ParseCommandLine(ui::JoinArguments(arguments)), boxes)) return 0;
    const bool pluginMode = ui::Globals().pluginMode;

    ui::SingleInstance instance;
    if (instance.Acquire() != ui::SingleInstance::Outcome::kStarted) {
        if (pluginMode) ui::ReportVersionRunning(boxes);
        return 0;
    }

    ui::TFMain mainWindow;
    boxes.SetOwner(&mainWindow);
    QObject::connect(&instance, &ui::SingleInstance::otherInstanceStarted, &mainWindow, [&mainWindow, pluginMode] {
        // Closing waits for a conversion in progress: the window cancels it and closes when it returns.
        ui::ReactToOtherInstance(mainWindow, pluginMode, [&mainWindow] { mainWindow.close(); });
    });
    instance.Listen(pluginMode);
    mainWindow.show();
    return QApplication::exec();
}
