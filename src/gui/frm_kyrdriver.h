#pragma once
// frmKYRdriver: the console's main window. It builds the controls and menus of the panel,
// forwards every click and mouse move to the Console handler of the same name, and shows
// what the console asks through the Ui interface. No protocol or file logic lives here.

#include <QMainWindow>

#include "console/console.h"
#include "console/ui.h"
#include "qtio/png_encoder.h"

class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kyr {

class PictureArea;
class frmcontrast;

class frmKYRdriver : public QMainWindow, public Ui {
    Q_OBJECT
  public:
    frmKYRdriver(SerialPort& port, ReplyTimer& timer, Clock& clock, Scheduler& scheduler,
                 QWidget* parent = nullptr);
    ~frmKYRdriver() override;

    Console& console() { return console_; }
    // Start-up (Form_Load): opens COM1 and asks the device for the link.
    void start();

    // ---- Ui
    void setStatusText(const std::string& text) override;
    void repaintStatus() override;
    void setDisplayText(const std::string& text) override;
    void repaintDisplay() override;
    void setHeaderText(const std::string& text) override;
    void showPicture(const Picture& picture) override;
    void setMousePointer(MousePointer pointer) override;
    void setTurboFace(bool on) override;
    void setProgress(int value, int maximum) override;
    void showMessage(const std::string& text) override;
    std::string prompt(const std::string& text, const std::string& title,
                       const std::string& defaultAnswer) override;
    std::string runFileDialog(const FileDialogRequest& request) override;
    void showContrastDialog(std::string& background, std::string& range) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    using Handler = void (Console::*)();

    void buildPanel(QWidget* form);
    void buildMenus();
    QPushButton* addKey(QWidget* form, const char* name, const char* caption, int left, int top,
                        int width, int height, Handler handler);
    QLabel* addLabel(QWidget* form, const char* name, const QString& caption, const QRect& twips);
    QMenu* addMenu(QMenu* parent, const char* name, const QString& caption);
    void addItem(QMenu* menu, const char* name, const QString& caption, Handler handler,
                 const QKeySequence& shortcut = {});
    void addSeparator(QMenu* menu, const char* name);
    // Runs a console handler; the program ends once it has run the shutdown.
    void run(Handler handler);

    SerialPort& port_;
    Console console_;
    QtPngEncoder pngEncoder_;
    frmcontrast* contrast_ = nullptr;
    PictureArea* Picdata = nullptr;
    QPlainTextEdit* KYRText = nullptr;
    QPlainTextEdit* PCtext = nullptr;
    QPlainTextEdit* headertxt = nullptr;
    QPushButton* cmdturbo = nullptr;
    QProgressBar* progress_ = nullptr;
    QWidget* form_ = nullptr;
};

}  // namespace kyr
