#include "main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileInfo>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "common/format.h"
#include "common/version.h"
#include "link/speed_table.h"
#include "contrast_dialog.h"
#include "focus_panel.h"
#include "image/readout.h"
#include "image/render.h"
#include "picture_area.h"
#include "qtio/host_text.h"

namespace kyr {

namespace {

// The panel is laid out in the design units of the device's console form: 15 twips per
// pixel. Qt scales logical pixels for high-density screens by itself.
constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}
QRect twips(int left, int top, int width, int height) {
    return {px(left), px(top), px(width), px(height)};
}

// The whole form: wide enough for the display mirror, tall enough for the last group labels.
constexpr int kFormWidth = 9255;
constexpr int kFormHeight = 6690;

// Where the right-hand column and the key panel begin: controls from there on move with the
// right and bottom edges of a larger form.
constexpr int kRightColumnTwips = 5040;
constexpr int kKeyPanelTwips = 3825;
// The picture at the form's design size: its place, and the band down to the key panel that
// the information box had before it became a dock.
constexpr int kPictureBottomTwips = 3780;

const QColor kFormGrey(128, 128, 128);
constexpr int kDockWidth = 185;
constexpr int kRecentFiles = 8;
const QColor kLightGrey(192, 192, 192);

// A font by its design name; where the machine lacks it, the nearest of the given kind.
QFont designFont(const QStringList& families, qreal points, bool bold, bool italic,
                 QFont::StyleHint hint) {
    QFont f;
    f.setFamilies(families);
    f.setStyleHint(hint);
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

// Fixed pitch matters for the 2 x 24 mirror: fall back to the system's fixed font.
QFont fixedFont(qreal points, bool bold) {
    QFont f = designFont({QStringLiteral("Courier New")}, points, bold, false, QFont::TypeWriter);
    if (!QFontInfo(f).fixedPitch()) {
        f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        f.setPointSizeF(points);
        f.setBold(bold);
    }
    return f;
}

void setColours(QWidget* w, const QColor& text, const QColor& ground) {
    QPalette pal = w->palette();
    for (auto role : {QPalette::Base, QPalette::Window, QPalette::Button})
        pal.setColor(role, ground);
    for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        pal.setColor(role, text);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

QPlainTextEdit* textBox(QWidget* form, const char* name, const QString& initial,
                        const QColor& colour, const QRect& rect) {
    auto* box = new QPlainTextEdit(form);
    box->setObjectName(QString::fromLatin1(name));
    box->setReadOnly(true);
    box->setUndoRedoEnabled(false);
    box->setPlainText(initial);
    box->setGeometry(rect);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box->document()->setDocumentMargin(2);
    setColours(box, colour, Qt::black);
    return box;
}

// Frames and lines group the keys; they take no mouse events, so moves over them are the form's.
QFrame* outline(QWidget* form, const char* name, const QRect& rect, QFrame::Shape shape) {
    auto* f = new QFrame(form);
    f->setObjectName(QString::fromLatin1(name));
    f->setFrameShape(shape);
    f->setFrameShadow(QFrame::Plain);
    f->setLineWidth(1);
    f->setGeometry(rect);
    QPalette pal = f->palette();
    pal.setColor(QPalette::WindowText, kLightGrey);
    f->setPalette(pal);
    f->setAttribute(Qt::WA_TransparentForMouseEvents);
    return f;
}

QString turboStyle(bool on) {
    const char* face = on ? "rgb(0, 255, 0)" : "rgb(255, 0, 0)";
    return QStringLiteral(
               "QPushButton { background-color: %1; color: black;"
               " border: 1px solid rgb(32, 32, 32); border-radius: 2px; }"
               "QPushButton:pressed { border: 2px inset rgb(32, 32, 32); }")
        .arg(QLatin1String(face));
}

// An arrow drawn on the captionless arrow keys, so that the user sees which way they go.
QIcon arrowIcon(Qt::ArrowType type) {
    QPixmap pm(9, 9);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    QPolygonF tri;
    switch (type) {
        case Qt::UpArrow:
            tri << QPointF(4.5, 1) << QPointF(8, 7) << QPointF(1, 7);
            break;
        case Qt::DownArrow:
            tri << QPointF(1, 2) << QPointF(8, 2) << QPointF(4.5, 8);
            break;
        case Qt::LeftArrow:
            tri << QPointF(1, 4.5) << QPointF(7, 1) << QPointF(7, 8);
            break;
        default:
            tri << QPointF(2, 1) << QPointF(8, 4.5) << QPointF(2, 8);
            break;
    }
    p.drawPolygon(tri);
    return QIcon(pm);
}

// The form at its design size: the window's first size and its smallest.
class FormArea : public QWidget {
  public:
    explicit FormArea(QWidget* parent) : QWidget(parent) {}
    std::function<void()> onResize;
    QSize sizeHint() const override { return {px(kFormWidth), px(kFormHeight)}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void resizeEvent(QResizeEvent*) override {
        if (onResize) onResize();
    }
};

// A status-bar field that gives up room before it pushes the window wider: its text is cut
// with an ellipsis when the bar is short.
class StatusField : public QLabel {
  public:
    StatusField(const char* name, QWidget* parent) : QLabel(parent) {
        setObjectName(QString::fromLatin1(name));
        setMinimumWidth(1);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    }
    static constexpr int kPad = 3;
    QSize sizeHint() const override {
        // One more pixel: the advance is rounded, the eliding measures exactly.
        return {fontMetrics().horizontalAdvance(text()) + 2 * kPad + 1,
                QLabel::sizeHint().height()};
    }
    QSize minimumSizeHint() const override { return {1, QLabel::minimumSizeHint().height()}; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRect r = contentsRect().adjusted(kPad, 0, -kPad, 0);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r, Qt::AlignVCenter | Qt::AlignLeft,
                   fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
    }
};

// What stands in About.
constexpr const char* kAboutText =
    "<p><b>KYR Remote Operation Console</b><br>Version %1</p>"
    "<p>Works a KYR video camera and autoguider over its serial line: its front panel and "
    "display, image download and display, image files, the display-text log and firmware "
    "upload.</p>"
    "<p>Free software under the GNU General Public License, version 3 or (at your option) any "
    "later version; it comes with no warranty.<br>"
    "Source: the kyr_console repository; its README.md tells how to build, install and run "
    "the console (<tt>./kyr run</tt>).</p>";

const char* const kShortcuts[][2] = {
    {"Arrow keys", "the panel's arrow keys (with Turbo when it is on)"},
    {"F5", "Download Screen Image"},
    {"Shift+F5", "Download All"},
    {"Ctrl+O", "Load KYR Frame from Disk"},
    {"Ctrl+Shift+O", "Open FITS Image"},
    {"Ctrl+S", "Save KYR Frame to Disk"},
    {"Ctrl+B", "Adjust Contrast"},
    {"Ctrl+A", "Auto Contrast"},
    {"Ctrl+Shift+A", "Auto Contrast (zscale)"},
    {"Ctrl++ / Ctrl+-", "zoom in / out (also Ctrl+wheel over the image)"},
    {"Ctrl+0", "zoom to fit"},
    {"Ctrl+1", "one image pixel per screen pixel"},
    {"Alt+1 .. Alt+4", "Linear, Square Root, Logarithmic, Asinh stretch"},
    {"Drag", "pan an image larger than its area (else: statistics of the box dragged)"},
    {"Shift+Drag", "statistics of the box dragged"},
    {"Click", "lock the focus panel on the star clicked"},
    {"Ctrl+Q", "Exit"},
};

}  // namespace

MainWindow::MainWindow(SerialPort& port, ReplyTimer& timer, Clock& clock, Scheduler& scheduler,
                           QWidget* parent)
    : QMainWindow(parent), port_(port), console_(port, *this, timer, clock, scheduler) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    console_.setImageEncoder(&pngEncoder_);
    console_.setEvents(this);

    auto* form = new FormArea(this);
    form_ = form;
    form_->setObjectName(QStringLiteral("form"));
    form_->setMinimumSize(form->sizeHint());
    setColours(form_, Qt::white, kFormGrey);
    form_->setFont(
        designFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Arial"), QStringLiteral("Liberation Sans")},
                   8, false, false, QFont::SansSerif));
    form_->setMouseTracking(true);
    form_->installEventFilter(this);
    setCentralWidget(form_);

    buildPanel(form_);
    buildDocks();
    buildMenus();
    buildStatusBar();
    form->onResize = [this] { layoutForm(); };

    arrivedRows_ = new QTimer(this);
    arrivedRows_->setSingleShot(true);
    arrivedRows_->setInterval(0);
    connect(arrivedRows_, &QTimer::timeout, this, &MainWindow::drawArrivedRows);

    contrast_ = new ContrastDialog(this);  // loaded now, only shown and hidden later
    contrast_->setPreview([this](std::int32_t background, std::int32_t range) {
        previewContrast(background, range);
    });
}

MainWindow::~MainWindow() {
    console_.setEvents(nullptr);
    // The port may outlive the window; its events must not reach a console that is gone.
    port_.setOnComm(nullptr);
}

void MainWindow::start() {
    console_.start();
    refreshState();
}

// ---------------------------------------------------------------- building the panel

void MainWindow::buildPanel(QWidget* form) {
    pictureArea = new PictureArea(form);
    pictureArea->setObjectName(QStringLiteral("pictureArea"));
    pictureArea->setGeometry(px(120), 0, pictureArea->width(), px(kPictureBottomTwips));
    pictureArea->setMouseMoveHandler([this](float x, float y) { pictureMouseMove(x, y); });
    pictureArea->setHint(QStringLiteral("F5: download the KYR's screen image"));

    // Maker's name plate, top right.
    auto* title1 = addLabel(form, "Label1", QStringLiteral("QUOR"), twips(5160, 120, 1830, 600));
    title1->setFont(fixedFont(24, true));
    auto* title3 = addLabel(form, "Label3", QStringLiteral("KYR"), twips(7320, 120, 1695, 600));
    title3->setFont(designFont({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")}, 24,
                               true, true, QFont::SansSerif));
    title3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* title2 = addLabel(form, "Label2", QStringLiteral("Zodiviziduzo Dudizevazor"),
                            twips(5160, 840, 3855, 330));
    title2->setAlignment(Qt::AlignCenter);
    outline(form, "Line1", QRect(px(5160), px(1350), px(3855), 1), QFrame::HLine);

    // Display mirror in its frame; status box with its label; image information.
    outline(form, "Shape7", twips(5040, 1680, 4095, 975), QFrame::Box);
    KYRText =
        textBox(form, "KYRText", QStringLiteral("KYR Remote Version 2.10\nWaiting for the KYR"),
                QColor(255, 0, 0), twips(5160, 1800, 3855, 735));
    KYRText->setFont(fixedFont(12, true));
    KYRText->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* pcLabel =
        addLabel(form, "Label10", QStringLiteral("PC Message:"), twips(5160, 2820, 3615, 300));
    // Green on black like the box it names: green on the form's grey was hard to read.
    pcLabel->setStyleSheet(
        QStringLiteral("color: rgb(0, 255, 0); background-color: black; padding-left: 2px;"));
    PCtext = textBox(form, "PCtext", QStringLiteral(" PC Messages appear here!\n"),
                     QColor(0, 255, 0), twips(5160, 3120, 3615, 645));

    // Key groups: a frame each, the group's name beneath it.
    outline(form, "Shape1", twips(480, 3870, 4215, 705), QFrame::Box);
    addLabel(form, "Label4", QStringLiteral("Acquire"), twips(480, 4575, 4215, 330));
    outline(form, "Shape2", twips(240, 4935, 1095, 1305), QFrame::Box);
    addLabel(form, "Label5", QStringLiteral("Guide"), twips(0, 6240, 1575, 330));
    outline(form, "Shape3", twips(2640, 4935, 1095, 1305), QFrame::Box);
    addLabel(form, "Label6", QStringLiteral("Process"), twips(2400, 6240, 1575, 330));
    outline(form, "Shape4", twips(5400, 3870, 3255, 1320), QFrame::Box);
    addLabel(form, "Label7", QStringLiteral("Control"), twips(5400, 5190, 3255, 330));
    outline(form, "Shape5", twips(5400, 5535, 1095, 705), QFrame::Box);
    addLabel(form, "Label8", QStringLiteral("Setup"), twips(5160, 6240, 1575, 330));
    outline(form, "Shape6", twips(7440, 5535, 1095, 705), QFrame::Box);
    addLabel(form, "Label9", QStringLiteral("Interrupt"), twips(7200, 6240, 1575, 330));
    for (const char* name : {"Label4", "Label5", "Label6", "Label7", "Label8", "Label9"}) {
        auto* l = form->findChild<QLabel*>(QLatin1String(name));
        l->setFont(
            designFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                        QStringLiteral("Arial"), QStringLiteral("Liberation Sans")},
                       13.5, true, false, QFont::SansSerif));
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }
    // The key panel under the display area, split into its two halves.
    QFrame* divider = outline(form, "Line3", QRect(px(120), px(3825), px(9015), 1), QFrame::HLine);
    outline(form, "Line2", QRect(px(5040), px(3870), 1, px(2700)), QFrame::VLine);

    addKey(form, "focusKey", "Focus", 720, 3960, 855, 495, press(PanelKey::Focus));
    addKey(form, "imageKey", "Image", 2160, 3960, 855, 495, press(PanelKey::Image));
    addKey(form, "monitorKey", "Monitor", 3600, 3960, 855, 495, press(PanelKey::Monitor));
    addKey(form, "parameterKey", "Parameter", 5520, 3960, 945, 495, press(PanelKey::Parameter));
    addKey(form, "valueKey", "Value", 7560, 3960, 945, 495, press(PanelKey::Value));
    addKey(form, "upKey", " ", 5760, 4680, 255, 195, press(PanelKey::Up))
        ->setIcon(arrowIcon(Qt::UpArrow));
    addKey(form, "downKey", " ", 5760, 4920, 255, 195, press(PanelKey::Down))
        ->setIcon(arrowIcon(Qt::DownArrow));
    addKey(form, "leftKey", " ", 7710, 4800, 255, 195, press(PanelKey::Left))
        ->setIcon(arrowIcon(Qt::LeftArrow));
    addKey(form, "rightKey", " ", 8010, 4800, 255, 195, press(PanelKey::Right))
        ->setIcon(arrowIcon(Qt::RightArrow));
    turboKey = addKey(form, "turboKey", "Turbo", 6600, 4680, 615, 255, &Console::toggleTurbo);
    setTurboFace(false);
    addKey(form, "calibrateKey", "Calibrate", 360, 5040, 855, 495, press(PanelKey::Calibrate));
    addKey(form, "trackKey", "Track", 360, 5640, 855, 495, press(PanelKey::Track));
    addKey(form, "displayKey", "Display", 2760, 5040, 855, 495, press(PanelKey::Display));
    addKey(form, "fileOpsKey", "File Ops", 2760, 5640, 855, 495, press(PanelKey::FileOps));
    addKey(form, "setupKey", "Setup", 5520, 5640, 855, 495, press(PanelKey::Setup));
    addKey(form, "interruptKey", "Interrupt", 7560, 5640, 855, 495, press(PanelKey::Interrupt));

    // The text boxes only show; with no control taking the keyboard, Space and Enter press
    // nothing and the arrow keys reach the window.
    for (QPlainTextEdit* box : {KYRText, PCtext}) box->setFocusPolicy(Qt::NoFocus);

    for (QObject* child : form->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w == nullptr) continue;
        Anchor anchor = Anchor::Panel;
        if (w == pictureArea)
            anchor = Anchor::Picture;
        else if (w == divider)
            anchor = Anchor::Divider;
        placed_.push_back({w, w->geometry(), anchor});
    }
}

QPushButton* MainWindow::addKey(QWidget* form, const char* name, const char* caption, int left,
                                  int top, int width, int height, Handler handler) {
    auto* b = new QPushButton(QString::fromLatin1(caption), form);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(twips(left, top, width, height));
    b->setAutoDefault(false);
    // A stray Space or Enter must never press a key of the device.
    b->setFocusPolicy(Qt::NoFocus);
    b->setPalette(QApplication::palette());
    if (height < 300) b->setIconSize(QSize(9, 9));
    connect(b, &QPushButton::clicked, this, [this, handler] { run(handler); });
    return b;
}

QLabel* MainWindow::addLabel(QWidget* form, const char* name, const QString& caption,
                               const QRect& rect) {
    auto* l = new QLabel(caption, form);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(rect);
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    return l;
}

// ---------------------------------------------------------------- layout

void MainWindow::layoutForm() {
    const int dx = std::max(0, form_->width() - px(kFormWidth));
    const int dy = std::max(0, form_->height() - px(kFormHeight));
    const int rightColumn = px(kRightColumnTwips);
    const int keyPanel = px(kKeyPanelTwips);
    for (const Placed& p : placed_) {
        QRect r = p.design;
        switch (p.anchor) {
            case Anchor::Picture:
                r.setSize(r.size() + QSize(dx, dy));
                break;
            case Anchor::Divider:
                r.translate(0, dy);
                r.setWidth(r.width() + dx);
                break;
            case Anchor::Panel:
                r.translate(r.left() >= rightColumn ? dx : 0, r.top() >= keyPanel ? dy : 0);
                break;
        }
        if (p.widget->geometry() != r) p.widget->setGeometry(r);
    }
}

void MainWindow::buildDocks() {
    // Image Information and the focus panel stand beside the picture, left of it, so that
    // the front panel keeps the window's right and bottom edges. A header arriving changes
    // their text, never the picture's room.
    headertxt = textBox(nullptr, "headertxt", QStringLiteral("Image Information\n"),
                        QColor(255, 255, 0), QRect());
    headertxt->setFont(form_->font());
    headertxt->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    headertxt->setFocusPolicy(Qt::NoFocus);
    headertxt->setMinimumSize(120, 60);

    informationDock_ = new QDockWidget(QStringLiteral("Image Information"), this);
    informationDock_->setObjectName(QStringLiteral("informationDock"));
    informationDock_->setWidget(headertxt);
    focusDock_ = new QDockWidget(QStringLiteral("Focus"), this);
    focusDock_->setObjectName(QStringLiteral("focusDock"));
    // In a scroll area: a short window keeps its picture and scrolls the panel instead.
    auto* scroll = new QScrollArea(focusDock_);
    scroll->setObjectName(QStringLiteral("focusScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    focus_ = new FocusPanel(console_.image, scroll);
    scroll->setWidget(focus_);
    scroll->setMinimumSize(120, 60);
    focusDock_->setWidget(scroll);
    connect(focus_, &FocusPanel::lockChanged, this, &MainWindow::showStarMark);
    pictureArea->setClickHandler([this](int x, int y) { pictureClicked(x, y); });
    pictureArea->setBoxHandler([this](QRect box) { pictureBoxDragged(box); });
    for (QDockWidget* d : {informationDock_, focusDock_}) {
        d->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                       QDockWidget::DockWidgetFloatable);
        d->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
        addDockWidget(Qt::LeftDockWidgetArea, d);
    }
    splitDockWidget(informationDock_, focusDock_, Qt::Vertical);
    // Narrow enough that at 1400 pixels across a 320 x 200 picture is drawn 900 wide.
    resizeDocks({informationDock_, focusDock_}, {kDockWidth, kDockWidth}, Qt::Horizontal);
}

// ---------------------------------------------------------------- menus

QMenu* MainWindow::addMenu(QMenu* parent, const char* name, const QString& caption) {
    QMenu* m = parent != nullptr ? parent->addMenu(caption) : menuBar()->addMenu(caption);
    m->setObjectName(QString::fromLatin1(name));
    return m;
}

QAction* MainWindow::addItem(QMenu* menu, const char* name, const QString& caption,
                               Handler handler, const QKeySequence& shortcut) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) a->setShortcut(shortcut);
    connect(a, &QAction::triggered, this, [this, handler] { run(handler); });
    return a;
}

void MainWindow::addSeparator(QMenu* menu, const char* name) {
    menu->addSeparator()->setObjectName(QString::fromLatin1(name));
}

void MainWindow::buildMenus() {
    QMenu* file = addMenu(nullptr, "fileMenu", QStringLiteral("&File I/O"));
    addItem(file, "loadImage", QStringLiteral("&Load KYR  Frame from Disk"),
            [](Console& c) { c.loadImage(); }, QKeySequence(Qt::CTRL | Qt::Key_O));
    addItem(file, "openFits", QStringLiteral("Open FITS &Image..."),
            [](Console& c) { c.openFits(); }, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    recentMenu_ = addMenu(file, "recentMenu", QStringLiteral("Recen&t"));
    rebuildRecentMenu();
    addSeparator(file, "separator1");
    addItem(file, "saveImage", QStringLiteral("&Save KYR Frame to Disk in QUOR Format"),
            &Console::saveImageAs, QKeySequence(Qt::CTRL | Qt::Key_S));
    addItem(file, "exportBitmap", QStringLiteral("Save Displayed Image in &Bitmap Format"),
            &Console::exportBitmap);
    addItem(file, "exportFits", QStringLiteral("Export Image as &FITS"),
            &Console::exportFits);
    addItem(file, "exportPng", QStringLiteral("Export Image as &PNG"),
            &Console::exportPng);
    addSeparator(file, "separator2");
    addItem(file, "autoSave", QStringLiteral("&Receive and Automatically Save Images"),
            &Console::startAutoSave);
    addSeparator(file, "separator3");
    addItem(file, "exit", QStringLiteral("E&xit"), &Console::quit,
            QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* download = addMenu(nullptr, "downloadMenu", QStringLiteral("&Download"));
    addItem(download, "downloadScreenImage", QStringLiteral("Download &Screen Image"),
            &Console::downloadScreenImage, QKeySequence(Qt::Key_F5));
    addItem(download, "downloadAll", QStringLiteral("Download &All"),
            &Console::downloadAll, QKeySequence(Qt::SHIFT | Qt::Key_F5));
    addItem(download, "abortDownloadAll", QStringLiteral("A&bort Download All"), &Console::abortDownloadAll);

    QMenu* link = addMenu(nullptr, "linkMenu", QStringLiteral("&Link"));
    QMenu* baud = addMenu(link, "baudMenu", QStringLiteral("Set &Baud Rate"));
    speeds_ = new QActionGroup(this);
    const char* const speedCaptions[] = {"&9600 Baud", "19&200 Baud", "&38400 Baud", "&57600 Baud",
                                         "&115200 Baud"};
    // The menu lists the speeds slowest first; its codes count from the fastest.
    for (int i = 0; i < 5; ++i) {
        const int code = 5 - i;
        const QByteArray rate = QByteArray::number(kSpeeds[static_cast<std::size_t>(code)].rate);
        QAction* a = addItem(baud, ("baud" + rate).constData(), QString::fromLatin1(speedCaptions[i]),
                             [code](Console& c) { c.setBaudRate(code); });
        a->setCheckable(true);
        a->setData(QString::fromLatin1(rate));
        speeds_->addAction(a);
    }
    for (int n = 1; n <= 6; ++n) {
        const QByteArray name = "establishLink" + QByteArray::number(n);
        addItem(link, name.constData(), QStringLiteral("Establish Link (COM&%1)").arg(n),
                [n](Console& c) { c.establishLink(n); });
    }

    QMenu* display = addMenu(nullptr, "displayMenu", QStringLiteral("Dis&play"));
    addItem(display, "adjustContrast", QStringLiteral("Adjust &Contrast"), &Console::adjustContrast,
            QKeySequence(Qt::CTRL | Qt::Key_B));
    addItem(display, "autoContrast", QStringLiteral("&Auto Contrast"),
            &Console::autoContrast, QKeySequence(Qt::CTRL | Qt::Key_A));
    addItem(display, "autoContrastZscale", QStringLiteral("Auto Contrast (&zscale)"),
            &Console::autoContrastZscale, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));

    buildViewMenu();

    QMenu* process = addMenu(nullptr, "processMenu", QStringLiteral("P&rocess"));
    addItem(process, "flatField", QStringLiteral("&Flat Field"), &Console::applyFlatField);

    QMenu* edit = addMenu(nullptr, "editMenu", QStringLiteral("&Edit Data"));
    addItem(edit, "note", QStringLiteral("&Note"), &Console::enterNote);
    addItem(edit, "focalLength", QStringLiteral("&Focal Length"),
            &Console::enterFocalLength);
    addItem(edit, "apertureDiameter", QStringLiteral("&Aperture Diameter"),
            &Console::enterApertureDiameter);

    QMenu* units = addMenu(nullptr, "unitsMenu", QStringLiteral("&Units"));
    unitItems_ = new QActionGroup(this);
    unitItems_->addAction(
        addItem(units, "inches", QStringLiteral("&Inches"), &Console::useInches));
    unitItems_->addAction(addItem(units, "centimeters", QStringLiteral("&Centimeters"),
                                  &Console::useCentimeters));
    for (QAction* a : unitItems_->actions()) a->setCheckable(true);

    QMenu* upload = addMenu(nullptr, "uploadMenu", QStringLiteral("Upl&oad"));
    addItem(upload, "uploadFirmware", QStringLiteral("&Upload New KYR Code at 115 KBaud"),
            &Console::uploadFirmware);

    QMenu* log = addMenu(nullptr, "logMenu", QStringLiteral("Lo&g Data"));
    QMenu* capture = addMenu(log, "captureMenu", QStringLiteral("&Capture 2x24 Text"));
    addItem(capture, "setCaptureFileName", QStringLiteral("Set Text File &Name"),
            &Console::setCaptureFileName);
    addItem(capture, "startCapture", QStringLiteral("&Start Data Capture"),
            &Console::startCapture);
    addItem(capture, "endCapture", QStringLiteral("&End Data Capture"),
            &Console::endCapture);

    buildHelpMenu();

    // The device's arrow keys from the keyboard, as the panel's arrow buttons send them.
    const std::pair<const char*, std::pair<Qt::Key, Handler>> arrows[] = {
        {"keyup", {Qt::Key_Up, press(PanelKey::Up)}},
        {"keydown", {Qt::Key_Down, press(PanelKey::Down)}},
        {"keyleft", {Qt::Key_Left, press(PanelKey::Left)}},
        {"keyright", {Qt::Key_Right, press(PanelKey::Right)}}};
    for (const auto& [name, keyAndHandler] : arrows) {
        auto* a = new QAction(this);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(QKeySequence(keyAndHandler.first));
        a->setShortcutContext(Qt::WindowShortcut);
        const Handler handler = keyAndHandler.second;
        connect(a, &QAction::triggered, this, [this, handler] { run(handler); });
        addAction(a);
    }
}

void MainWindow::buildViewMenu() {
    QMenu* view = addMenu(nullptr, "viewMenu", QStringLiteral("&View"));
    auto item = [&](const char* name, const QString& caption, const QList<QKeySequence>& keys,
                    std::function<void()> act) {
        QAction* a = view->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcuts(keys);
        connect(a, &QAction::triggered, this, std::move(act));
        return a;
    };
    item("zoomIn", QStringLiteral("Zoom &In"),
         {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
         [this] { pictureArea->zoomIn(); });
    item("zoomOut", QStringLiteral("Zoom &Out"), {QKeySequence(Qt::CTRL | Qt::Key_Minus)},
         [this] { pictureArea->zoomOut(); });
    zoomFit_ = item("zoomFit", QStringLiteral("&Fit"), {QKeySequence(Qt::CTRL | Qt::Key_0)},
                    [this] { pictureArea->fit(); });
    zoomOne_ = item("zoomOne", QStringLiteral("&1:1"), {QKeySequence(Qt::CTRL | Qt::Key_1)},
                    [this] { pictureArea->setZoom(1); });
    zoomFit_->setCheckable(true);
    zoomFit_->setChecked(true);
    zoomOne_->setCheckable(true);
    zoomOne_->setChecked(true);
    connect(pictureArea, &PictureArea::zoomChanged, this, &MainWindow::showZoom);

    addSeparator(view, "separator4");
    stretches_ = new QActionGroup(this);
    // Alt+O stays Zoom Out's: Logarithmic answers to G.
    const std::tuple<const char*, const char*, Stretch, Qt::Key> kinds[] = {
        {"stretchLinear", "&Linear", Stretch::Linear, Qt::Key_1},
        {"stretchSqrt", "&Square Root", Stretch::SquareRoot, Qt::Key_2},
        {"stretchLog", "Lo&garithmic", Stretch::Logarithmic, Qt::Key_3},
        {"stretchAsinh", "&Asinh", Stretch::Asinh, Qt::Key_4}};
    for (const auto& [name, caption, stretch, key] : kinds) {
        const Stretch s = stretch;
        QAction* a = item(name, QString::fromLatin1(caption), {QKeySequence(Qt::ALT | key)},
                          [this, s] { setStretch(s); });
        a->setCheckable(true);
        a->setChecked(s == Stretch::Linear);
        a->setData(static_cast<int>(s));
        stretches_->addAction(a);
    }
}

void MainWindow::buildHelpMenu() {
    QMenu* help = addMenu(nullptr, "helpMenu", QStringLiteral("&Help"));
    QAction* keys = help->addAction(QStringLiteral("&Keyboard Shortcuts"));
    keys->setObjectName(QStringLiteral("shortcuts"));
    keys->setShortcut(QKeySequence(Qt::Key_F1));
    connect(keys, &QAction::triggered, this, &MainWindow::showShortcuts);
    QAction* about = help->addAction(QStringLiteral("&About"));
    about->setObjectName(QStringLiteral("about"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::showShortcuts() {
    QString rows;
    for (const auto& [keys, what] : kShortcuts)
        rows += QStringLiteral("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>")
                    .arg(QString::fromLatin1(keys).toHtmlEscaped(),
                         QString::fromLatin1(what).toHtmlEscaped());
    QMessageBox box(QMessageBox::NoIcon, tr("Keyboard Shortcuts"),
                    QStringLiteral("<table>%1</table>").arg(rows), QMessageBox::Ok, this);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

void MainWindow::showAbout() {
    QMessageBox::about(this, tr("About"),
                       QString::fromLatin1(kAboutText).arg(QString::fromLatin1(projectVersion())));
}

// ---------------------------------------------------------------- remembered between runs

void MainWindow::useSettings(QSettings* settings) {
    settings_ = nullptr;  // what restoring changes is not written back while it runs
    if (settings == nullptr) return;
    // Everything is read before anything is applied: a resize on the way reports its zoom.
    const QByteArray geometry = settings->value(QStringLiteral("window/geometry")).toByteArray();
    const QByteArray state = settings->value(QStringLiteral("window/state")).toByteArray();
    const int stretch = settings->value(QStringLiteral("view/stretch"), 0).toInt();
    const bool fit = settings->value(QStringLiteral("view/fit"), true).toBool();
    const double zoom = settings->value(QStringLiteral("view/zoom"), 1.0).toDouble();
    settings->beginGroup(QStringLiteral("folders"));
    for (const QString& kind : settings->childKeys())
        folders_[kind] = settings->value(kind).toString();
    settings->endGroup();
    recent_ = settings->value(QStringLiteral("recent/files")).toStringList().mid(0, kRecentFiles);

    if (geometry.isEmpty() || !restoreGeometry(geometry)) {
        // A first run: room for the picture, within the screen.
        QSize size(1400, 1000);
        if (const QScreen* s = screen()) size = size.boundedTo(s->availableGeometry().size() * 0.9);
        resize(size.expandedTo(minimumSizeHint()));
    }
    restoreState(state);
    for (QAction* a : stretches_->actions())
        if (a->data().toInt() == stretch) setStretch(static_cast<Stretch>(stretch));
    if (fit)
        pictureArea->fit();
    else
        pictureArea->setZoom(zoom);
    rebuildRecentMenu();
    settings_ = settings;
}

void MainWindow::saveSettings() {
    if (settings_ == nullptr) return;
    settings_->setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings_->setValue(QStringLiteral("window/state"), saveState());
    settings_->sync();
}

void MainWindow::noteRecent(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    recent_.removeAll(full);
    recent_.prepend(full);
    recent_ = recent_.mid(0, kRecentFiles);
    if (settings_ != nullptr) settings_->setValue(QStringLiteral("recent/files"), recent_);
    rebuildRecentMenu();
}

void MainWindow::rebuildRecentMenu() {
    // The items are made once and only filled in: an item may be the one being triggered.
    if (recentMenu_->isEmpty()) {
        for (int n = 1; n <= kRecentFiles; ++n) {
            QAction* a = recentMenu_->addAction(QString());
            a->setObjectName(QStringLiteral("recent%1").arg(n));
            connect(a, &QAction::triggered, this, [this, a] { openRecent(a->data().toString()); });
        }
        QAction* none = recentMenu_->addAction(QStringLiteral("No recent files"));
        none->setObjectName(QStringLiteral("noRecent"));
        none->setEnabled(false);
        recentMenu_->addSeparator()->setObjectName(QStringLiteral("recentSeparator"));
        QAction* clear = recentMenu_->addAction(QStringLiteral("&Clear List"));
        clear->setObjectName(QStringLiteral("clearRecent"));
        connect(clear, &QAction::triggered, this, [this] {
            recent_.clear();
            if (settings_ != nullptr) settings_->setValue(QStringLiteral("recent/files"), recent_);
            rebuildRecentMenu();
        });
        recentMenu_->setToolTipsVisible(true);
    }
    const QList<QAction*> items = recentMenu_->actions();
    for (int i = 0; i < kRecentFiles; ++i) {
        QAction* a = items[i];
        const bool used = i < recent_.size();
        const QString path = used ? recent_[i] : QString();
        a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(
            QFileInfo(path).fileName().replace(QLatin1Char('&'), QStringLiteral("&&"))));
        a->setToolTip(path);
        a->setData(path);
        a->setVisible(used);
    }
    items[kRecentFiles]->setVisible(recent_.isEmpty());  // "No recent files"
    items[kRecentFiles + 1]->setVisible(!recent_.isEmpty());
    items[kRecentFiles + 2]->setVisible(!recent_.isEmpty());
}

void MainWindow::openRecent(const QString& path) {
    if (!QFileInfo::exists(path)) {
        showMessage(toUiText(path + QStringLiteral(" is no longer there")));
        recent_.removeAll(path);
        if (settings_ != nullptr) settings_->setValue(QStringLiteral("recent/files"), recent_);
        rebuildRecentMenu();
        return;
    }
    openFile(path);
}

bool MainWindow::isFitsName(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("fits") || suffix == QLatin1String("fit") ||
           suffix == QLatin1String("fts");
}

void MainWindow::openFile(const QString& path) {
    const std::string name = QFile::encodeName(path).toStdString();
    if (isFitsName(path))
        run([name](Console& c) { c.openFits(name); });
    else
        run([name](Console& c) { c.loadImage(name); });
}

void MainWindow::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setMaximumWidth(px(4860));
    progress_->setTextVisible(true);
    progress_->hide();
    bar->addWidget(progress_, 1);
    readoutField_ = new StatusField("statusreadout", this);
    zoomField_ = new StatusField("statuszoom", this);
    bar->addWidget(readoutField_, 1);
    bar->addPermanentWidget(zoomField_);
    portField_ = new StatusField("statusport", this);
    lineField_ = new StatusField("statusline", this);
    linkField_ = new StatusField("statuslink", this);
    unitsField_ = new StatusField("statusunits", this);
    saveField_ = new StatusField("statussave", this);
    captureField_ = new StatusField("statuscapture", this);
    for (QLabel* f : {portField_, lineField_, linkField_, unitsField_, saveField_, captureField_})
        bar->addPermanentWidget(f);
    captureField_->hide();
    showPortField(1);
    linkField_->setText(tr("Not linked"));
    showZoom(pictureArea->zoom(), pictureArea->fitting());
}

void MainWindow::showZoom(double zoom, bool fitting) {
    zoomFit_->setChecked(fitting);
    zoomOne_->setChecked(std::abs(zoom - 1) < 1e-9);
    // One decimal, none for a whole factor ("Fit 3.3x", "2x"); two digits below one.
    QString factor = zoom < 1 ? QString::number(zoom, 'g', 2) : QString::number(zoom, 'f', 1);
    if (factor.endsWith(QLatin1String(".0"))) factor.chop(2);
    zoomField_->setText((fitting ? tr("Fit %1x") : tr("%1x")).arg(factor));
    if (settings_ != nullptr) {
        settings_->setValue(QStringLiteral("view/fit"), fitting);
        settings_->setValue(QStringLiteral("view/zoom"), zoom);
    }
}

// ---------------------------------------------------------------- events

void MainWindow::run(Handler handler) {
    if (console_.terminated()) return;
    handler(console_);
    if (console_.terminated()) {
        close();
        return;
    }
    // A preview the console did not replace (the dialog's values were refused) goes.
    if (previewShown_) {
        previewShown_ = false;
        if (console_.display.imageShown) pictureArea->setPicture(console_.display.picture);
    }
    refreshState();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    saveSettings();
    if (!console_.terminated()) console_.shutdown();
    contrast_->hide();
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == form_ && event->type() == QEvent::MouseMove && !console_.terminated())
        console_.pointerLeftPicture();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::pictureMouseMove(float x, float y) {
    if (console_.terminated()) return;
    console_.readOutPixelAt(x, y);
    pointerX_ = x;
    pointerY_ = y;
    showPointerFields();
}

void MainWindow::showPointerFields() {
    // The same pixel in a field of its own, and the star under the pointer in the focus panel.
    const Console& c = console_;
    const Readout r = pixelReadout(pointerX_, pointerY_, c.display.displayOffsetX,
                                   c.display.displayOffsetY, c.image.imageData, c.image.imageWidth,
                                   c.image.imageHeight, c.display.imageShown);
    if (!r.changed) return;
    if (r.text.empty()) {
        readoutField_->clear();
        focus_->pointerAt(0, 0);
        return;
    }
    readoutField_->setText(tr("Pixel %1, %2 = %3").arg(r.column).arg(r.row).arg(r.sample));
    focus_->pointerAt(r.column, r.row);
}

void MainWindow::pictureClicked(int x, int y) {
    const DisplaySettings& d = console_.display;
    if (console_.terminated() || !d.imageShown) return;
    const int column = x - d.displayOffsetX, row = y - d.displayOffsetY;
    if (column < 1 || row < 1 || column > console_.image.imageWidth ||
        row > console_.image.imageHeight)
        return;
    focus_->lockAt(column, row);
}

void MainWindow::pictureBoxDragged(QRect areaBox) {
    const DisplaySettings& d = console_.display;
    if (areaBox.isEmpty() || !d.imageShown) {
        focus_->setBox(std::nullopt);
        return;
    }
    const ImageBox box = clipBox(
        ImageBox{areaBox.left() - d.displayOffsetX, areaBox.top() - d.displayOffsetY,
                 areaBox.width(), areaBox.height()},
        console_.image.imageWidth, console_.image.imageHeight);
    if (box.width == 0 || box.height == 0) {
        pictureArea->setBox(QRect());
        focus_->setBox(std::nullopt);
        return;
    }
    // The mark shows the part that was measured.
    pictureArea->setBox(QRect(box.column + d.displayOffsetX, box.row + d.displayOffsetY,
                              box.width, box.height));
    focus_->setBox(box);
}

void MainWindow::showStarMark() {
    const DisplaySettings& d = console_.display;
    if (const auto star = focus_->locked())
        pictureArea->setMarker(*star + QPoint(d.displayOffsetX, d.displayOffsetY));
    else
        pictureArea->setMarker(std::nullopt);
}

void MainWindow::imageReplaced(bool newFile) {
    if (newFile) {
        // Another file: a box from the image before means nothing on it.
        pictureArea->setBox(QRect());
        focus_->setBox(std::nullopt);
    }
    focus_->imageChanged();
    showStarMark();
    showPointerFields();
}

void MainWindow::previewContrast(std::int32_t background, std::int32_t range) {
    const Console& c = console_;
    if (!c.display.imageShown) return;
    const bool flat = c.flat.showFlat;
    GreyLut lut;
    lut.update(background, range, c.display.stretch);
    const RenderResult drawn = renderWholePicture(flat ? c.flat.flatData : c.image.imageData,
                                             flat ? c.flat.flatWidth : c.image.imageWidth,
                                             flat ? c.flat.flatHeight : c.image.imageHeight, lut);
    pictureArea->setPicture(drawn.picture);
    previewShown_ = true;
}

void MainWindow::setStretch(Stretch stretch) {
    if (console_.terminated()) return;
    console_.display.stretch = stretch;
    for (QAction* a : stretches_->actions())
        if (a->data().toInt() == static_cast<int>(stretch)) a->setChecked(true);
    if (settings_ != nullptr)
        settings_->setValue(QStringLiteral("view/stretch"), static_cast<int>(stretch));
    // Only a picture on show is drawn again: the first look stays as it was.
    if (console_.display.imageShown) console_.renderImage();
}

void MainWindow::refreshState() {
    const bool metric = console_.header.unitsMetric;
    unitsField_->setText(metric ? tr("Centimeters") : tr("Inches"));
    findChild<QAction*>(QStringLiteral("centimeters"))->setChecked(metric);
    findChild<QAction*>(QStringLiteral("inches"))->setChecked(!metric);
    if (console_.files.autoSaveOn)
        saveField_->setText(
            tr("Auto-save on, next %1")
                .arg(QString::fromStdString(zeroPadded(console_.files.autoSaveNumber, 3))));
    else
        saveField_->setText(tr("Auto-save off"));
    if (console_.capture.captureActive) {
        captureField_->setText(tr("Capture: %1 records").arg(console_.capture.captureRecordNumber));
        captureField_->show();
    } else {
        captureField_->hide();
    }
}

void MainWindow::showProgress(int value, int maximum, const QString& format) {
    progress_->setRange(0, std::max(maximum, 1));
    progress_->setValue(std::clamp(value, 0, std::max(maximum, 1)));
    progress_->setFormat(format);
    progress_->show();
}

void MainWindow::hideProgress() {
    progress_->hide();
    progress_->reset();
}

void MainWindow::showPortField(int commPort) {
    QString text = QStringLiteral("COM%1").arg(commPort);
    if (portNames_) {
        const std::string path = portNames_(commPort);
        if (!path.empty()) text += QStringLiteral(": ") + QString::fromStdString(path);
    }
    portField_->setText(text);
}

void MainWindow::linkEstablished() {
    linkField_->setText(tr("Linked"));
}

void MainWindow::linkLost() {
    linkField_->setText(tr("Link lost"));
    hideProgress();
    allImages_ = 0;
}

void MainWindow::linkRequested(int commPort) {
    showPortField(commPort);
    linkField_->setText(tr("Not linked"));
}

void MainWindow::portOpenFailed(int commPort) {
    showPortField(commPort);
    linkField_->setText(tr("Port not open"));
}

void MainWindow::lineSettingsApplied(const std::string& settings) {
    lineSettings_ = settings;
    lineField_->setText(QString::fromStdString(settings));
    const QString speed = QString::fromStdString(settings.substr(0, settings.find(',')));
    for (QAction* a : speeds_->actions()) a->setChecked(a->data().toString() == speed);
}

void MainWindow::lineSettingsRefused(const std::string&) {
    // The settings in force stay checked.
    lineSettingsApplied(lineSettings_);
}

void MainWindow::headerAccepted(int, const ImageHeader& header) {
    // The new image replaces the old one from the top as its rows come in.
    forgetArrivedRows();
    liveWidth_ = header.hdrWidth;
    liveHeight_ = header.hdrHeight;
    live_ = Picture{};
    pictureArea->setPicture(live_);
    const QString rows = tr("row %v of %m");
    showProgress(0, header.hdrHeight,
                 allImages_ > 0 ? tr("Image %1 of %2: ").arg(allDone_ + 1).arg(allImages_) + rows
                                : tr("Row %v of %m"));
    refreshState();
}

void MainWindow::headerRefused(int, const std::string&) {
    hideProgress();
}

void MainWindow::rowReceived(int row, int, int) {
    // The console asks for the next row after this returns: the row is drawn once that
    // request is out, so the drawing adds nothing to the exchange.
    firstArrived_ = firstArrived_ == 0 ? row : std::min(firstArrived_, row);
    lastArrived_ = std::max(lastArrived_, row);
    if (!arrivedRows_->isActive()) arrivedRows_->start();
}

void MainWindow::drawArrivedRows() {
    if (firstArrived_ == 0) return;
    const DisplaySettings& d = console_.display;
    liveLut_.update(d.background, d.range, d.stretch);
    drawPictureRows(live_, console_.image.imageData, liveWidth_, liveHeight_, firstArrived_,
                    lastArrived_, liveLut_);
    const int offset = displayOffset(live_.height, liveHeight_) - 1;
    pictureArea->setPictureRows(live_, firstArrived_ + offset, lastArrived_ + offset);
    progress_->setValue(std::min(lastArrived_, progress_->maximum()));
    forgetArrivedRows();
}

void MainWindow::forgetArrivedRows() {
    firstArrived_ = lastArrived_ = 0;
    arrivedRows_->stop();
}

void MainWindow::imageComplete(int) {
    forgetArrivedRows();  // the whole image is on show
    if (allImages_ > 0)
        ++allDone_;
    else
        hideProgress();
    refreshState();
    // In the device's Focus mode images follow one another: the locked star (or the one under
    // a still pointer) is measured again in each, so its HFD can be watched while focusing.
    imageReplaced(false);
}

void MainWindow::transferFailed() {
    hideProgress();
    allImages_ = 0;
}

void MainWindow::downloadAllStarted(int images) {
    allImages_ = images;
    allDone_ = 0;
}

void MainWindow::downloadAllFinished(int) {
    allImages_ = 0;
    hideProgress();
    refreshState();
}

void MainWindow::fileWritten(FileKind, const std::string&) {
    refreshState();
}

void MainWindow::fileRefused(FileKind, const std::string&, FileRefusal, const std::string&) {
    refreshState();
}

void MainWindow::fileLoaded(const std::string& path) {
    noteRecent(QFile::decodeName(QByteArray::fromStdString(path)));
    refreshState();
    imageReplaced(true);
}

void MainWindow::uploadStarted() {
    showProgress(0, 1, tr("Page %v of %m"));
}

void MainWindow::uploadRefused(const std::string&) {
    hideProgress();
}

void MainWindow::uploadProgress(int page, int pages) {
    showProgress(page, pages, tr("Page %v of %m"));
}

void MainWindow::uploadDone() {
    hideProgress();
}

void MainWindow::captureRecord(int recordNumber) {
    captureField_->setText(tr("Capture: %1 records").arg(recordNumber));
    captureField_->show();
}

// ---------------------------------------------------------------- Ui

void MainWindow::setStatusText(const std::string& text) {
    PCtext->setPlainText(fromUiText(text));
}

void MainWindow::repaintStatus() {
    PCtext->viewport()->repaint();
}

void MainWindow::setDisplayText(const std::string& text) {
    KYRText->setPlainText(fromUiText(text));
}

void MainWindow::repaintDisplay() {
    KYRText->viewport()->repaint();
}

void MainWindow::setHeaderText(const std::string& text) {
    headertxt->setPlainText(fromUiText(text));
    headertxt->verticalScrollBar()->setValue(0);
}

void MainWindow::showPicture(const Picture& picture) {
    previewShown_ = false;
    pictureArea->setPicture(picture);
}

void MainWindow::setMousePointer(MousePointer pointer) {
    if (pointer == MousePointer::Crosshair)
        setCursor(Qt::CrossCursor);
    else
        unsetCursor();
}

void MainWindow::setTurboFace(bool on) {
    turboKey->setStyleSheet(turboStyle(on));
}

void MainWindow::setProgress(int, int) {}

void MainWindow::showMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, windowTitle(), fromUiText(text), QMessageBox::Ok, this);
    box.exec();
}

std::string MainWindow::prompt(const std::string& text, const std::string& title,
                                 const std::string& defaultAnswer) {
    QInputDialog dlg(this);
    dlg.setInputMode(QInputDialog::TextInput);
    dlg.setWindowTitle(fromUiText(title));
    dlg.setLabelText(fromUiText(text));
    dlg.setTextValue(fromUiText(defaultAnswer));
    // Wide enough for the whole default answer and the prompt.
    const QFontMetrics fm(dlg.font());
    const int needed =
        std::max(fm.horizontalAdvance(dlg.textValue()), fm.horizontalAdvance(dlg.labelText())) +
        fm.averageCharWidth() * 4 + 40;
    dlg.resize(std::max(dlg.sizeHint().width(), needed), dlg.sizeHint().height());
    if (dlg.exec() != QDialog::Accepted) return {};
    return toUiText(dlg.textValue());
}

std::string MainWindow::runFileDialog(const FileDialogRequest& request) {
    const QStringList filters = qtNameFilters(request.filter);
    QString selected;
    const int index = request.filterIndex - 1;
    if (index >= 0 && index < filters.size()) selected = filters[index];
    // Callers test for existing files themselves: no overwrite question here.
    const auto options = QFileDialog::DontConfirmOverwrite;
    const QString joined = filters.join(QStringLiteral(";;"));
    // Each kind of file starts where the last one of its kind was chosen.
    const QString kind = filters.size() > 1 ? filters[1].section(QLatin1Char(' '), 0, 0) : QString();
    const auto last = folders_.find(kind);
    const QString folder = last != folders_.end() ? last->second : QString();
    const QString title = fromUiText(request.title);
    const QString name =
        request.mode == FileDialogMode::Open
            ? QFileDialog::getOpenFileName(this, title, folder, joined, &selected, options)
            : QFileDialog::getSaveFileName(this, title, folder, joined, &selected, options);
    if (name.isEmpty()) return {};
    if (!kind.isEmpty()) {
        folders_[kind] = QFileInfo(name).absolutePath();
        if (settings_ != nullptr)
            settings_->setValue(QStringLiteral("folders/") + kind, folders_[kind]);
    }
    return QFile::encodeName(name).toStdString();
}

void MainWindow::showContrastDialog(std::string& background, std::string& range) {
    contrast_->setImage(&console_.image.imageData, console_.image.imageWidth,
                        console_.image.imageHeight);
    contrast_->edit(background, range);
}

}  // namespace kyr
