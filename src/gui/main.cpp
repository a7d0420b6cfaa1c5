// kyr-console: the KYR Remote Operation Console.
//
//   kyr-console [--com n=PATH]... [--screenshot FILE] [IMAGE] [--simulator [SIM-OPTIONS...]]
//   kyr-console --help | --version

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QSettings>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/version.h"
#include "main_window.h"
#include "qtio/qt_platform.h"
#include "qtio/serial_adapters.h"
#include "qtio/simulator_process.h"

namespace {

const char* const kUsage =
    "Usage: kyr-console [OPTION]... [IMAGE] [--simulator [KYR-SIM-OPTION]...]\n"
    "  or:  kyr-console --help | --version\n"
    "\n"
    "IMAGE, a .KYR file or a FITS file (.fits, .fit, .fts), is opened at start; it may\n"
    "also stand last, after the simulator's options.\n"
    "\n"
    "Options:\n"
    "  --com n=PATH       COMn is the serial device PATH, or a remote serial server:\n"
    "                     tcp://host:port (raw) or rfc2217://host:port (telnet, line\n"
    "                     settings reach the far port) (repeatable; default COMn is the\n"
    "                     platform's own port)\n"
    "  --screenshot FILE  save a picture of the window shortly after start-up, then exit\n"
    "  --simulator        start kyr-sim --pty ($KYR_SIM, else the one beside this program,\n"
    "                     else the one on the PATH) and link COM1 to it; every argument\n"
    "                     after it goes to kyr-sim\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n";

int usageError(const std::string& why) {
    std::fprintf(stderr, "kyr-console: %s\n%s", why.c_str(), kUsage);
    return 2;
}

// An image named after the simulator's options: none of them takes a file.
bool isImageName(const QString& arg) {
    if (arg.startsWith(QLatin1Char('-'))) return false;
    const QString suffix = QFileInfo(arg).suffix().toLower();
    return suffix == QLatin1String("kyr") || kyr::MainWindow::isFitsName(arg);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--simulator") == 0) break;
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(kyr::versionText("kyr-console").c_str(), stdout);
            return 0;
        }
    }

    QApplication app(argc, argv);  // takes Qt's own options (-platform ...) out of argv
    QApplication::setStyle(QStringLiteral("Fusion"));
    // The installed desktop entry and icon, so that desktops match the window to them.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kyrconsole.KyrConsole"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.kyrconsole.KyrConsole")));
    // Where the window's settings live (on Linux ~/.config/kyrconsole/kyr-console.conf).
    QCoreApplication::setOrganizationName(QStringLiteral("kyrconsole"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("kyrconsole.org"));
    QCoreApplication::setApplicationName(QStringLiteral("kyr-console"));

    kyr::PortMap portMap;
    QString screenshot;
    bool simulator = false;
    QStringList simArgs;
    QString image;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (simulator) {
            const QString a = QString::fromLocal8Bit(argv[i]);
            if (i == argc - 1 && image.isEmpty() && isImageName(a))
                image = a;
            else
                simArgs << a;
        } else if (arg == "--simulator") {
            simulator = true;
        } else if (arg == "--com" || arg.rfind("--com=", 0) == 0) {
            std::string value;
            if (arg == "--com") {
                if (i + 1 >= argc) return usageError("--com needs n=PATH");
                value = argv[++i];
            } else {
                value = arg.substr(6);
            }
            const std::string err = portMap.addMapping(value);
            if (!err.empty()) return usageError("--com: " + err);
        } else if (arg == "--screenshot") {
            if (i + 1 >= argc) return usageError("--screenshot needs a file name");
            screenshot = QString::fromLocal8Bit(argv[++i]);
        } else if (!arg.empty() && arg[0] != '-') {
            if (!image.isEmpty()) return usageError("one image at a time");
            image = QString::fromLocal8Bit(argv[i]);
        } else {
            return usageError("unknown option \"" + arg + "\"");
        }
    }

    kyr::SimulatorProcess sim;
    if (simulator) {
        const QString path = sim.start(
            kyr::SimulatorProcess::locate(QCoreApplication::applicationDirPath()), simArgs);
        if (path.isEmpty()) {
            std::fprintf(stderr, "kyr-console: %s\n", sim.error().toLocal8Bit().constData());
            return 1;
        }
        portMap.map(1, QFile::encodeName(path).toStdString());
    }

    int status = 0;
    {
        kyr::RoutingSerialPort port(portMap);
        kyr::QtReplyTimer timer;
        kyr::QtClock clock;
        kyr::QtScheduler scheduler;
        kyr::MainWindow window(port, timer, clock, scheduler);
        window.setPortNames([&port](int n) { return port.portMap().pathFor(n); });
        timer.setCallback([&window] { window.console().onReplyTimer(); });
        QSettings settings;
        window.useSettings(&settings);

        window.show();
        window.start();
        if (!image.isEmpty()) window.openFile(image);

        if (!screenshot.isEmpty()) {
            // Long enough for the device's first display text to arrive.
            QTimer::singleShot(1500, &window, [&window, screenshot] {
                if (!window.grab().save(screenshot))
                    std::fprintf(stderr, "kyr-console: cannot save %s\n",
                                 screenshot.toLocal8Bit().constData());
                window.close();
            });
        }
        status = app.exec();
        if (!window.console().terminated()) window.console().shutdown();
        timer.setCallback(nullptr);
    }
    sim.stop();
    return status;
}
