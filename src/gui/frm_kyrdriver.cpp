#include "frm_kyrdriver.h"

#include <QApplication>
#include <QCloseEvent>
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
#include <QScrollBar>
#include <QStatusBar>

#include "frm_contrast.h"
#include "qtio/host_text.h"
#include "picture_area.h"

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

const QColor kFormGrey(128, 128, 128);
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

}  // namespace

frmKYRdriver::frmKYRdriver(SerialPort& port, ReplyTimer& timer, Clock& clock, Scheduler& scheduler,
                           QWidget* parent)
    : QMainWindow(parent), port_(port), console_(port, *this, timer, clock, scheduler) {
    setObjectName(QStringLiteral("frmKYRdriver"));
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    console_.setImageEncoder(&pngEncoder_);

    form_ = new QWidget(this);
    form_->setObjectName(QStringLiteral("form"));
    form_->setFixedSize(px(kFormWidth), px(kFormHeight));
    setColours(form_, Qt::white, kFormGrey);
    form_->setFont(
        designFont({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Arial"), QStringLiteral("Liberation Sans")},
                   8, false, false, QFont::SansSerif));
    form_->setMouseTracking(true);
    form_->installEventFilter(this);
    setCentralWidget(form_);

    buildPanel(form_);
    buildMenus();

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setMaximumWidth(px(4860));
    progress_->setTextVisible(true);
    progress_->hide();
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(progress_, 1);

    contrast_ = new frmcontrast(this);  // loaded now, only shown and hidden later
}

frmKYRdriver::~frmKYRdriver() {
    // The port may outlive the window; its events must not reach a console that is gone.
    port_.setOnComm(nullptr);
}

void frmKYRdriver::start() {
    console_.Form_Load();
}

// ---------------------------------------------------------------- building the panel

void frmKYRdriver::buildPanel(QWidget* form) {
    Picdata = new PictureArea(form);
    Picdata->setObjectName(QStringLiteral("Picdata"));
    Picdata->move(px(120), 0);
    Picdata->setMouseMoveHandler([this](float x, float y) { console_.Picdata_MouseMove(x, y); });

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
    pcLabel->setStyleSheet(QStringLiteral("color: rgb(0, 255, 0);"));
    PCtext = textBox(form, "PCtext", QStringLiteral(" PC Messages appear here!\n"),
                     QColor(0, 255, 0), twips(5160, 3120, 3615, 645));

    headertxt = textBox(form, "headertxt", QStringLiteral("Image Information\n"),
                        QColor(255, 255, 0), twips(240, 3090, 4455, 690));
    headertxt->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

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
    outline(form, "Line3", QRect(px(120), px(3825), px(9015), 1), QFrame::HLine);
    outline(form, "Line2", QRect(px(5040), px(3870), 1, px(2700)), QFrame::VLine);

    addKey(form, "cmdfocus", "Focus", 720, 3960, 855, 495, &Console::cmdfocus_Click);
    addKey(form, "cmdimage", "Image", 2160, 3960, 855, 495, &Console::cmdimage_Click);
    addKey(form, "cmdmonitor", "Monitor", 3600, 3960, 855, 495, &Console::cmdmonitor_Click);
    addKey(form, "cmdparameter", "Parameter", 5520, 3960, 945, 495, &Console::cmdparameter_Click);
    addKey(form, "cmdvalue", "Value", 7560, 3960, 945, 495, &Console::cmdvalue_Click);
    addKey(form, "cmdup", " ", 5760, 4680, 255, 195, &Console::cmdup_Click)
        ->setIcon(arrowIcon(Qt::UpArrow));
    addKey(form, "cmddown", " ", 5760, 4920, 255, 195, &Console::cmddown_Click)
        ->setIcon(arrowIcon(Qt::DownArrow));
    addKey(form, "cmdleft", " ", 7710, 4800, 255, 195, &Console::cmdleft_Click)
        ->setIcon(arrowIcon(Qt::LeftArrow));
    addKey(form, "cmdright", " ", 8010, 4800, 255, 195, &Console::cmdright_Click)
        ->setIcon(arrowIcon(Qt::RightArrow));
    cmdturbo = addKey(form, "cmdturbo", "Turbo", 6600, 4680, 615, 255, &Console::cmdturbo_Click);
    setTurboFace(false);
    addKey(form, "cmdcalibrate", "Calibrate", 360, 5040, 855, 495, &Console::cmdcalibrate_Click);
    addKey(form, "cmdtrack", "Track", 360, 5640, 855, 495, &Console::cmdtrack_Click);
    addKey(form, "cmddisplay", "Display", 2760, 5040, 855, 495, &Console::cmddisplay_Click);
    addKey(form, "cmdfileops", "File Ops", 2760, 5640, 855, 495, &Console::cmdfileops_Click);
    addKey(form, "cmdsetup", "Setup", 5520, 5640, 855, 495, &Console::cmdsetup_Click);
    addKey(form, "cmdinterrupt", "Interrupt", 7560, 5640, 855, 495, &Console::cmdinterrupt_Click);
}

QPushButton* frmKYRdriver::addKey(QWidget* form, const char* name, const char* caption, int left,
                                  int top, int width, int height, Handler handler) {
    auto* b = new QPushButton(QString::fromLatin1(caption), form);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(twips(left, top, width, height));
    b->setAutoDefault(false);
    b->setPalette(QApplication::palette());
    if (height < 300) b->setIconSize(QSize(9, 9));
    connect(b, &QPushButton::clicked, this, [this, handler] { run(handler); });
    return b;
}

QLabel* frmKYRdriver::addLabel(QWidget* form, const char* name, const QString& caption,
                               const QRect& rect) {
    auto* l = new QLabel(caption, form);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(rect);
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    return l;
}

// ---------------------------------------------------------------- menus

QMenu* frmKYRdriver::addMenu(QMenu* parent, const char* name, const QString& caption) {
    QMenu* m = parent != nullptr ? parent->addMenu(caption) : menuBar()->addMenu(caption);
    m->setObjectName(QString::fromLatin1(name));
    return m;
}

void frmKYRdriver::addItem(QMenu* menu, const char* name, const QString& caption, Handler handler,
                           const QKeySequence& shortcut) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) a->setShortcut(shortcut);
    connect(a, &QAction::triggered, this, [this, handler] { run(handler); });
}

void frmKYRdriver::addSeparator(QMenu* menu, const char* name) {
    menu->addSeparator()->setObjectName(QString::fromLatin1(name));
}

void frmKYRdriver::buildMenus() {
    QMenu* file = addMenu(nullptr, "mnufileio", QStringLiteral("&File I/O"));
    addItem(file, "mnuload", QStringLiteral("&Load KYR  Frame from Disk"), &Console::mnuload_Click,
            QKeySequence(Qt::CTRL | Qt::Key_O));
    addSeparator(file, "mnudummy");
    addItem(file, "mnuCompSave", QStringLiteral("&Save KYR Frame to Disk in QUOR Format"),
            &Console::mnuCompSave_Click, QKeySequence(Qt::CTRL | Qt::Key_S));
    addItem(file, "mnubitmap", QStringLiteral("Save Displayed Image in &Bitmap Format"),
            &Console::mnubitmap_Click);
    addItem(file, "mnuexportfits", QStringLiteral("Export Image as &FITS"),
            &Console::mnuexportfits_Click);
    addItem(file, "mnuexportpng", QStringLiteral("Export Image as &PNG"),
            &Console::mnuexportpng_Click);
    addSeparator(file, "mnudummy2");
    addItem(file, "mnuautosave", QStringLiteral("&Receive and Automatically Save Images"),
            &Console::mnuautosave_Click);
    addSeparator(file, "mnudummy3");
    addItem(file, "mnuexit", QStringLiteral("E&xit"), &Console::mnuexit_Click,
            QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* download = addMenu(nullptr, "mnudownload", QStringLiteral("&Download"));
    addItem(download, "mnudownloadlight", QStringLiteral("Download &Screen Image"),
            &Console::mnudownloadlight_Click, QKeySequence(Qt::Key_F5));
    addItem(download, "mnuflashdownload", QStringLiteral("Download &All"),
            &Console::mnuflashdownload_Click, QKeySequence(Qt::SHIFT | Qt::Key_F5));
    addItem(download, "mnuabort", QStringLiteral("A&bort Download All"), &Console::mnuabort_Click);

    QMenu* link = addMenu(nullptr, "mnulink", QStringLiteral("&Link"));
    QMenu* baud = addMenu(link, "mnubaud", QStringLiteral("Set &Baud Rate"));
    addItem(baud, "mnu9600", QStringLiteral("&9600 Baud"), &Console::mnu9600_Click);
    addItem(baud, "mnu19200", QStringLiteral("1&9200 Baud"), &Console::mnu19200_Click);
    addItem(baud, "mnu38400", QStringLiteral("&38400 Baud"), &Console::mnu38400_Click);
    addItem(baud, "mnu57600", QStringLiteral("&57600 Baud"), &Console::mnu57600_Click);
    addItem(baud, "mnu115200", QStringLiteral("&115200 Baud"), &Console::mnu115200_Click);
    const Handler establish[] = {
        &Console::mnuestablishlink1_Click, &Console::mnuestablishlink2_Click,
        &Console::mnuestablishlink3_Click, &Console::mnuestablishlink4_Click,
        &Console::mnuestablishlink5_Click, &Console::mnuestablishlink6_Click};
    for (int n = 1; n <= 6; ++n) {
        const QByteArray name = "mnuestablishlink" + QByteArray::number(n);
        addItem(link, name.constData(), QStringLiteral("Establish Link (COM&%1)").arg(n),
                establish[n - 1]);
    }

    QMenu* display = addMenu(nullptr, "mnudisplay", QStringLiteral("Dis&play"));
    addItem(display, "mnucontrast", QStringLiteral("Adjust &Contrast"), &Console::mnucontrast_Click,
            QKeySequence(Qt::CTRL | Qt::Key_B));
    addItem(display, "mnuautocontrast", QStringLiteral("&Auto Contrast"),
            &Console::mnuautocontrast_Click, QKeySequence(Qt::CTRL | Qt::Key_A));

    QMenu* process = addMenu(nullptr, "mnuprocess", QStringLiteral("P&rocess"));
    addItem(process, "mnuflatfield", QStringLiteral("&Flat Field"), &Console::mnuflatfield_Click);

    QMenu* edit = addMenu(nullptr, "mnuedit", QStringLiteral("&Edit Data"));
    addItem(edit, "mnunote", QStringLiteral("&Note"), &Console::mnunote_Click);
    addItem(edit, "mnufocallength", QStringLiteral("&Focal Length"),
            &Console::mnufocallength_Click);
    addItem(edit, "mnuaperturedia", QStringLiteral("&Aperture Diameter"),
            &Console::mnuaperturedia_Click);

    QMenu* units = addMenu(nullptr, "mnuunits", QStringLiteral("&Units"));
    addItem(units, "mnuinches", QStringLiteral("&Inches"), &Console::mnuinches_Click);
    addItem(units, "mnucentimeters", QStringLiteral("&Centimeters"),
            &Console::mnucentimeters_Click);

    QMenu* upload = addMenu(nullptr, "mnuUpload", QStringLiteral("Upl&oad"));
    addItem(upload, "mnuUploadFile", QStringLiteral("&Upload New KYR Code at 115 KBaud"),
            &Console::mnuUploadFile_Click);

    QMenu* log = addMenu(nullptr, "mnuLogData", QStringLiteral("Lo&g Data"));
    QMenu* capture = addMenu(log, "mnuCapture2x24", QStringLiteral("&Capture 2x24 Text"));
    addItem(capture, "mnuSetFileName", QStringLiteral("Set Text File &Name"),
            &Console::mnuSetFileName_Click);
    addItem(capture, "mnuStartCapture", QStringLiteral("&Start Data Capture"),
            &Console::mnuStartCapture_Click);
    addItem(capture, "mnuEndCapture", QStringLiteral("&End Data Capture"),
            &Console::mnuEndCapture_Click);
}

// ---------------------------------------------------------------- events

void frmKYRdriver::run(Handler handler) {
    if (console_.terminated()) return;
    (console_.*handler)();
    if (console_.terminated()) close();
}

void frmKYRdriver::closeEvent(QCloseEvent* event) {
    if (!console_.terminated()) console_.Form_Unload();
    contrast_->hide();
    event->accept();
}

bool frmKYRdriver::eventFilter(QObject* watched, QEvent* event) {
    if (watched == form_ && event->type() == QEvent::MouseMove && !console_.terminated())
        console_.Form_MouseMove();
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- Ui

void frmKYRdriver::setStatusText(const std::string& text) {
    PCtext->setPlainText(fromUiText(text));
}

void frmKYRdriver::repaintStatus() {
    PCtext->viewport()->repaint();
}

void frmKYRdriver::setDisplayText(const std::string& text) {
    KYRText->setPlainText(fromUiText(text));
}

void frmKYRdriver::repaintDisplay() {
    KYRText->viewport()->repaint();
}

void frmKYRdriver::setHeaderText(const std::string& text) {
    headertxt->setPlainText(fromUiText(text));
    headertxt->verticalScrollBar()->setValue(0);
}

void frmKYRdriver::showPicture(const Picture& picture) {
    Picdata->setPicture(picture);
}

void frmKYRdriver::setMousePointer(MousePointer pointer) {
    if (pointer == MousePointer::Crosshair)
        setCursor(Qt::CrossCursor);
    else
        unsetCursor();
}

void frmKYRdriver::setTurboFace(bool on) {
    cmdturbo->setStyleSheet(turboStyle(on));
}

void frmKYRdriver::setProgress(int value, int maximum) {
    if (maximum <= 0) {
        progress_->hide();
        progress_->reset();
        return;
    }
    progress_->setRange(0, maximum);
    progress_->setValue(value < 0 ? 0 : (value > maximum ? maximum : value));
    progress_->show();
}

void frmKYRdriver::showMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, windowTitle(), fromUiText(text), QMessageBox::Ok, this);
    box.exec();
}

std::string frmKYRdriver::prompt(const std::string& text, const std::string& title,
                                 const std::string& defaultAnswer) {
    bool ok = false;
    const QString answer = QInputDialog::getText(this, fromUiText(title), fromUiText(text),
                                                 QLineEdit::Normal, fromUiText(defaultAnswer), &ok);
    return ok ? toUiText(answer) : std::string();
}

std::string frmKYRdriver::runFileDialog(const FileDialogRequest& request) {
    const QStringList filters = qtNameFilters(request.filter);
    QString selected;
    const int index = request.filterIndex - 1;
    if (index >= 0 && index < filters.size()) selected = filters[index];
    // Callers test for existing files themselves: no overwrite question here.
    const auto options = QFileDialog::DontConfirmOverwrite;
    const QString joined = filters.join(QStringLiteral(";;"));
    const QString name =
        request.mode == FileDialogMode::Open
            ? QFileDialog::getOpenFileName(this, QString(), QString(), joined, &selected, options)
            : QFileDialog::getSaveFileName(this, QString(), QString(), joined, &selected, options);
    if (name.isEmpty()) return {};
    return QFile::encodeName(name).toStdString();
}

void frmKYRdriver::showContrastDialog(std::string& background, std::string& range) {
    contrast_->edit(background, range);
}

}  // namespace kyr
