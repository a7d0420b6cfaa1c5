#pragma once
// MainWindow: the console's main window. It builds the controls and menus of the panel,
// forwards every click and mouse move to the Console handler of the same name, shows what
// the console asks through the Ui interface and follows what happens through ConsoleEvents
// (the progress bar, the image arriving row by row, the status bar). No protocol or file
// logic lives here.

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <map>

#include "console/console.h"
#include "console/console_events.h"
#include "console/ui.h"
#include "image/grey_map.h"
#include "qtio/png_encoder.h"

class QActionGroup;
class QDockWidget;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSettings;
class QTimer;

namespace kyr {

class PictureArea;
class ContrastDialog;
class FocusPanel;

class MainWindow : public QMainWindow, public Ui, public ConsoleEvents {
    Q_OBJECT
  public:
    MainWindow(SerialPort& port, ReplyTimer& timer, Clock& clock, Scheduler& scheduler,
                 QWidget* parent = nullptr);
    ~MainWindow() override;

    Console& console() { return console_; }
    // Start-up (start): opens COM1 and asks the device for the link.
    void start();
    // What COMn leads to, for the status bar (for example "/dev/ttyUSB0"); none by default.
    void setPortNames(std::function<std::string(int)> names) { portNames_ = std::move(names); }
    // Where the window keeps what it remembers between runs: geometry and docks, zoom,
    // stretch, the dialogs' last folders and the recent files. Restores from it at once
    // (a first run gets a large window) and writes to it as things change and at closing.
    // Without it nothing is remembered.
    void useSettings(QSettings* settings);
    // Opens an image file by name: FITS by its extension (.fits, .fit, .fts), else .KYR.
    void openFile(const QString& path);
    static bool isFitsName(const QString& path);

    // ---- Ui
    void setStatusText(const std::string& text) override;
    void repaintStatus() override;
    void setDisplayText(const std::string& text) override;
    void repaintDisplay() override;
    void setHeaderText(const std::string& text) override;
    void showPicture(const Picture& picture) override;
    void setMousePointer(MousePointer pointer) override;
    void setTurboFace(bool on) override;
    // The progress bar follows ConsoleEvents instead.
    void setProgress(int value, int maximum) override;
    void showMessage(const std::string& text) override;
    std::string prompt(const std::string& text, const std::string& title,
                       const std::string& defaultAnswer) override;
    std::string runFileDialog(const FileDialogRequest& request) override;
    void showContrastDialog(std::string& background, std::string& range) override;

    // ---- ConsoleEvents
    void linkEstablished() override;
    void linkLost() override;
    void linkRequested(int commPort) override;
    void portOpenFailed(int commPort) override;
    void lineSettingsApplied(const std::string& settings) override;
    void lineSettingsRefused(const std::string& settings) override;
    void headerAccepted(int buffer, const ImageHeader& header) override;
    void headerRefused(int buffer, const std::string& reason) override;
    void rowReceived(int row, int rows, int deviceRow) override;
    void imageComplete(int buffer) override;
    void transferFailed() override;
    void downloadAllStarted(int images) override;
    void downloadAllFinished(int count) override;
    void fileWritten(FileKind kind, const std::string& path) override;
    void fileRefused(FileKind kind, const std::string& path, FileRefusal why,
                     const std::string& reason) override;
    void fileLoaded(const std::string& path) override;
    void uploadStarted() override;
    void uploadRefused(const std::string& message) override;
    void uploadProgress(int page, int pages) override;
    void uploadDone() override;
    void captureRecord(int recordNumber) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    using Handler = std::function<void(Console&)>;
    // A click on a panel key.
    static Handler press(PanelKey key) {
        return [key](Console& c) { c.pressKey(key); };
    }
    // How a panel control follows a larger form.
    enum class Anchor { Panel, Picture, Divider };
    struct Placed {
        QWidget* widget;
        QRect design;
        Anchor anchor;
    };

    void buildPanel(QWidget* form);
    void buildMenus();
    void buildViewMenu();
    void buildDocks();
    void rebuildRecentMenu();
    void openRecent(const QString& path);
    void noteRecent(const QString& path);
    void saveSettings();
    void showZoom(double zoom, bool fitting);
    void buildHelpMenu();
    void buildStatusBar();
    QPushButton* addKey(QWidget* form, const char* name, const char* caption, int left, int top,
                        int width, int height, Handler handler);
    QLabel* addLabel(QWidget* form, const char* name, const QString& caption, const QRect& twips);
    QMenu* addMenu(QMenu* parent, const char* name, const QString& caption);
    QAction* addItem(QMenu* menu, const char* name, const QString& caption, Handler handler,
                     const QKeySequence& shortcut = {});
    void addSeparator(QMenu* menu, const char* name);
    // Runs a console handler; the program ends once it has run the shutdown.
    void run(Handler handler);

    // The front panel keeps its arrangement and its place; the picture takes the room the
    // form has beyond its design size.
    void layoutForm();
    void drawArrivedRows();
    void forgetArrivedRows();
    void pictureMouseMove(float x, float y);
    // The pixel field and the focus panel for the pointer's last place over the picture.
    void showPointerFields();
    // A click or a dragged box on the picture, in area pixels.
    void pictureClicked(int x, int y);
    void pictureBoxDragged(QRect areaBox);
    // The locked star's mark on the picture follows the focus panel.
    void showStarMark();
    // A new image is on display: the focus panel measures it.
    void imageReplaced(bool newFile);
    void previewContrast(std::int32_t background, std::int32_t range);
    void setStretch(Stretch stretch);
    // Units, automatic saving and capture as the console holds them after a handler or event.
    void refreshState();
    void showProgress(int value, int maximum, const QString& format);
    void hideProgress();
    void showPortField(int commPort);
    void showShortcuts();
    void showAbout();

    SerialPort& port_;
    Console console_;
    QtPngEncoder pngEncoder_;
    ContrastDialog* contrast_ = nullptr;
    PictureArea* pictureArea = nullptr;
    QPlainTextEdit* KYRText = nullptr;
    QPlainTextEdit* PCtext = nullptr;
    QPlainTextEdit* headertxt = nullptr;
    QPushButton* turboKey = nullptr;
    QDockWidget* informationDock_ = nullptr;
    QDockWidget* focusDock_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QWidget* form_ = nullptr;
    std::vector<Placed> placed_;

    QActionGroup* speeds_ = nullptr;
    QActionGroup* unitItems_ = nullptr;
    QAction* zoomFit_ = nullptr;
    QAction* zoomOne_ = nullptr;
    QActionGroup* stretches_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    QSettings* settings_ = nullptr;
    QStringList recent_;                 // most recent first
    std::map<QString, QString> folders_;  // the last folder of each kind of file dialog
    QLabel* zoomField_ = nullptr;
    QLabel* readoutField_ = nullptr;
    FocusPanel* focus_ = nullptr;
    QLabel* portField_ = nullptr;
    QLabel* lineField_ = nullptr;
    QLabel* linkField_ = nullptr;
    QLabel* unitsField_ = nullptr;
    QLabel* saveField_ = nullptr;
    QLabel* captureField_ = nullptr;
    std::function<std::string(int)> portNames_;
    std::string lineSettings_;

    // The image arriving row by row.
    Picture live_;
    GreyLut liveLut_;
    int liveWidth_ = 0;
    int liveHeight_ = 0;
    int firstArrived_ = 0;  // rows arrived but not yet drawn (0: none)
    int lastArrived_ = 0;
    QTimer* arrivedRows_ = nullptr;
    int allImages_ = 0;  // images of the Download All under way (0: none)
    int allDone_ = 0;
    bool previewShown_ = false;  // the contrast dialog's preview is on the picture
    float pointerX_ = -1;        // the pointer's last place over the picture, in area pixels
    float pointerY_ = -1;
};

}  // namespace kyr
