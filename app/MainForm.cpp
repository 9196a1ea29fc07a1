#include "MainForm.h"
#include "BusyCursor.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

using korvalin::TClefMode;
using korvalin::TMidiFile;
using korvalin::TMidiTrack;

namespace {

constexpr int kDesignWidth = 1280;
constexpr int kDesignHeight = 760;
constexpr int kMinimumWidth = 980;
constexpr int kMinimumHeight = 620;
constexpr int kLeftWidth = 430;
constexpr int kSplitterWidth = 2;
constexpr int kViewerToolsDesignWidth = kDesignWidth - kLeftWidth - kSplitterWidth;

// A label that cuts its text with an ellipsis instead of growing or clipping;
// text() keeps the whole text.
class TElidedLabel : public QLabel {
public:
    explicit TElidedLabel(QWidget* parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect area = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
        // A cut text shows whole in the label's tip.
        const QString tip = shown == text() ? QString() : text();
        if (toolTip() != tip) setToolTip(tip);
        style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(), shown,
                              foregroundRole());
    }
};

enum class TAnchor { akTopLeft, akTopRight, akStretch };

// A panel whose children sit at designed positions: top-right children keep
// their distance to the right edge, stretching ones grow with the panel. A
// width or height of 0 takes the child's natural size. A child may be limited
// so that it ends before another one, so that a long caption never runs under
// a button when the window is narrow.
class TAnchoredPanel : public QFrame {
public:
    TAnchoredPanel(QWidget* parent, int designWidth) : QFrame(parent), FDesignWidth(designWidth) {}

    void Place(QWidget* widget, const QRect& design, TAnchor anchor = TAnchor::akTopLeft,
               QWidget* endsBefore = nullptr) {
        FPlaced.push_back({widget, design, anchor, endsBefore});
        Relayout();
    }

    void Relayout() {
        const int delta = width() - FDesignWidth;
        std::vector<QRect> rects;
        rects.reserve(FPlaced.size());
        for (const TPlaced& placed : FPlaced) {
            const QSize natural = placed.Widget->sizeHint();
            QRect r(placed.Design.x(), placed.Design.y(),
                    placed.Design.width() > 0 ? placed.Design.width() : natural.width(),
                    placed.Design.height() > 0 ? placed.Design.height() : natural.height());
            if (placed.Anchor == TAnchor::akTopRight) r.moveLeft(r.x() + delta);
            if (placed.Anchor == TAnchor::akStretch) r.setWidth(std::max(0, r.width() + delta));
            rects.push_back(r);
        }
        for (std::size_t i = 0; i < FPlaced.size(); ++i) {
            if (FPlaced[i].EndsBefore == nullptr) continue;
            for (std::size_t j = 0; j < FPlaced.size(); ++j)
                if (FPlaced[j].Widget == FPlaced[i].EndsBefore && FPlaced[j].Widget->isVisibleTo(this))
                    rects[i].setRight(std::min(rects[i].right(), rects[j].left() - 9));
            if (rects[i].width() < 0) rects[i].setWidth(0);
        }
        for (std::size_t i = 0; i < FPlaced.size(); ++i) FPlaced[i].Widget->setGeometry(rects[i]);
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QFrame::resizeEvent(event);
        Relayout();
    }

private:
    struct TPlaced {
        QWidget* Widget;
        QRect Design;
        TAnchor Anchor;
        QWidget* EndsBefore;
    };
    int FDesignWidth;
    std::vector<TPlaced> FPlaced;
};

// Sets a flag for the life of a scope and clears it on every path.
class TFlagGuard {
public:
    explicit TFlagGuard(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TFlagGuard() { FFlag = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;

private:
    bool& FFlag;
};

// Suspends a widget's painting for a bulk change, resumed on every path.
class TUpdatesSuspended {
public:
    explicit TUpdatesSuspended(QWidget* widget) : FWidget(widget) { FWidget->setUpdatesEnabled(false); }
    ~TUpdatesSuspended() { FWidget->setUpdatesEnabled(true); }
    TUpdatesSuspended(const TUpdatesSuspended&) = delete;
    TUpdatesSuspended& operator=(const TUpdatesSuspended&) = delete;

private:
    QWidget* FWidget;
};

QFont UiFont() {
    QFont font =
        QFontDatabase::hasFamily(QStringLiteral("Segoe UI")) ? QFont(QStringLiteral("Segoe UI")) : QApplication::font();
    font.setPixelSize(13);
    return font;
}

QFrame* NewPanel(QWidget* parent, const char* name, QFrame::Shape shape = QFrame::NoFrame) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameShape(shape);
    if (shape != QFrame::NoFrame) panel->setFrameShadow(QFrame::Raised);
    return panel;
}

TAnchoredPanel* NewAnchoredPanel(QWidget* parent, const char* name, int designWidth,
                                 QFrame::Shape shape = QFrame::NoFrame) {
    auto* panel = new TAnchoredPanel(parent, designWidth);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameShape(shape);
    if (shape != QFrame::NoFrame) panel->setFrameShadow(QFrame::Raised);
    return panel;
}

template <class T>
T* NewControl(QWidget* parent, const char* name) {
    auto* control = new T(parent);
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

TElidedLabel* NewLabel(QWidget* parent, const char* name) {
    auto* label = new TElidedLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

// "MIDI files (*.mid;*.midi)|*.mid;*.midi|All files (*.*)|*.*" becomes the
// name filters of a Qt file dialog; "*.*" means every file, also without a dot.
QStringList QtNameFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        const qsizetype paren = description.lastIndexOf(QLatin1String(" ("));
        if (paren >= 0 && description.endsWith(QLatin1Char(')'))) description.truncate(paren);
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
        result << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
    }
    return result;
}

// Captions are drawn in the UI font at 13 px; where a caption is wider than
// the place the layout gives it (wider desktop fonts than the one the layout
// was drawn with), the control's font steps down to no less than 10 px.
void FitFont(QWidget* control, const QStringList& texts, int available) {
    QFont font = control->parentWidget()->font();
    for (int size = 13; size >= 10; --size) {
        font.setPixelSize(size);
        const QFontMetrics metrics(font);
        int widest = 0;
        for (const QString& text : texts) widest = std::max(widest, metrics.horizontalAdvance(text));
        if (widest <= available) break;
    }
    control->setFont(font);
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and destruction

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMain"));
    CreateControls();
    ConnectHandlers();
    FormCreate();
}

TfrmMain::~TfrmMain() { FormDestroy(); }

void TfrmMain::CreateControls() {
    setWindowTitle(QStringLiteral("Korvalin " KORVALIN_VERSION));
    setFont(UiFont());
    resize(kDesignWidth, kDesignHeight);
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // Top band: file caption, labels, language, recent, file name, open.
    auto* top = NewAnchoredPanel(this, "pnlTop", kDesignWidth);
    pnlTop = top;
    pnlTop->setFixedHeight(65);
    lblFileCaption = NewLabel(pnlTop, "lblFileCaption");
    lblTempo = NewLabel(pnlTop, "lblTempo");
    lblKeySignature = NewLabel(pnlTop, "lblKeySignature");
    rbRussian = NewControl<QRadioButton>(pnlTop, "rbRussian");
    rbRussian->setText(QStringLiteral("Русский"));
    rbRussian->setChecked(true);
    rbEnglish = NewControl<QRadioButton>(pnlTop, "rbEnglish");
    rbEnglish->setText(QStringLiteral("English"));
    btnRecent = NewControl<QPushButton>(pnlTop, "btnRecent");
    edtFileName = NewControl<QLineEdit>(pnlTop, "edtFileName");
    edtFileName->setReadOnly(true);
    btnShowViewer = NewControl<QPushButton>(pnlTop, "btnShowViewer");
    btnShowViewer->hide();
    btnOpen = NewControl<QPushButton>(pnlTop, "btnOpen");
    top->Place(lblFileCaption, {14, 8, 0, 0}, TAnchor::akTopLeft, lblTempo);
    top->Place(lblTempo, {468, 7, 160, 17});
    top->Place(rbRussian, {1008, 5, 78, 18}, TAnchor::akTopRight);
    top->Place(rbEnglish, {1094, 5, 70, 18}, TAnchor::akTopRight);
    // Designed 230 wide; a wider desktop font may take the room up to the
    // language buttons, and the ellipsis cuts what still does not fit.
    top->Place(lblKeySignature, {644, 7, 0, 17}, TAnchor::akTopLeft, rbRussian);
    top->Place(btnRecent, {14, 28, 130, 29});
    top->Place(edtFileName, {152, 30, 846, 25}, TAnchor::akStretch);
    top->Place(btnShowViewer, {1008, 28, 134, 29}, TAnchor::akTopRight);
    top->Place(btnOpen, {1152, 28, 108, 29}, TAnchor::akTopRight);
    root->addWidget(pnlTop);

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    root->addLayout(middle, 1);

    // Left column, laid out from the bottom: MIDI settings, track settings, the list.
    pnlLeft = NewPanel(this, "pnlLeft");
    pnlLeft->setFixedWidth(kLeftWidth);
    auto* left = new QVBoxLayout(pnlLeft);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);

    lvTracks = NewControl<QTreeWidget>(pnlLeft, "lvTracks");
    lvTracks->setColumnCount(5);
    lvTracks->setRootIsDecorated(false);
    lvTracks->setItemsExpandable(false);
    lvTracks->setUniformRowHeights(true);
    lvTracks->setSelectionMode(QAbstractItemView::SingleSelection);
    lvTracks->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvTracks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvTracks->setAllColumnsShowFocus(true);
    // The clef column takes what is left and cuts its text rather than
    // pushing a horizontal scroll bar under the rows.
    lvTracks->header()->setStretchLastSection(true);
    lvTracks->header()->setMinimumSectionSize(24);
    lvTracks->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lvTracks->header()->setSectionsMovable(false);
    const int columnWidths[] = {34, 150, 48, 82, 104};
    for (int column = 0; column < 5; ++column) lvTracks->setColumnWidth(column, columnWidths[column]);
    lvTracks->headerItem()->setText(0, QStringLiteral("#"));
    lvTracks->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    {
        // The selected row stays visible when the list loses the focus.
        QPalette palette = lvTracks->palette();
        palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         palette.color(QPalette::Active, QPalette::HighlightedText));
        lvTracks->setPalette(palette);
    }
    left->addWidget(lvTracks, 1);

    auto* track = NewAnchoredPanel(pnlLeft, "pnlTrackSettings", kLeftWidth, QFrame::StyledPanel);
    pnlTrackSettings = track;
    pnlTrackSettings->setFixedHeight(246);
    lblPartName = NewLabel(track, "lblPartName");
    edtPartName = NewControl<QLineEdit>(track, "edtPartName");
    lblClef = NewLabel(track, "lblClef");
    cbClef = NewControl<QComboBox>(track, "cbClef");
    cbClef->addItems({QStringLiteral("Автоматически"), QStringLiteral("Скрипичный"), QStringLiteral("Басовый")});
    lblGrid = NewLabel(track, "lblGrid");
    cbGrid = NewControl<QComboBox>(track, "cbGrid");
    cbGrid->addItems({QStringLiteral("1/8"), QStringLiteral("1/16"), QStringLiteral("1/32")});
    btnSelectAll = NewControl<QPushButton>(track, "btnSelectAll");
    btnSelectNone = NewControl<QPushButton>(track, "btnSelectNone");
    btnPreview = NewControl<QPushButton>(track, "btnPreview");
    btnPreview->setDefault(true);
    btnExport = NewControl<QPushButton>(track, "btnExport");
    btnOpenExternal = NewControl<QPushButton>(track, "btnOpenExternal");
    btnPlayAll = NewControl<QPushButton>(track, "btnPlayAll");
    btnPlayTrack = NewControl<QPushButton>(track, "btnPlayTrack");
    btnPlayTrack->hide();
    btnStop = NewControl<QPushButton>(track, "btnStop");
    btnPlayTransposed = NewControl<QPushButton>(track, "btnPlayTransposed");
    track->Place(lblPartName, {12, 4, 0, 0});
    track->Place(edtPartName, {12, 24, 402, 25});
    track->Place(lblClef, {164, 61, 0, 0});
    track->Place(cbClef, {164, 82, 136, 25});
    track->Place(lblGrid, {312, 61, 0, 0});
    track->Place(cbGrid, {312, 82, 102, 25});
    track->Place(btnSelectAll, {12, 61, 140, 28});
    track->Place(btnSelectNone, {12, 95, 140, 28});
    track->Place(btnPreview, {12, 130, 402, 32});
    track->Place(btnExport, {225, 168, 189, 32});
    track->Place(btnOpenExternal, {12, 168, 205, 32});
    track->Place(btnPlayAll, {12, 206, 125, 32});
    track->Place(btnPlayTrack, {12, 206, 176, 32});
    track->Place(btnStop, {329, 206, 85, 32});
    track->Place(btnPlayTransposed, {145, 206, 176, 32});
    left->addWidget(pnlTrackSettings);

    auto* midi = NewAnchoredPanel(pnlLeft, "pnlMidiSettings", kLeftWidth, QFrame::StyledPanel);
    pnlMidiSettings = midi;
    pnlMidiSettings->setFixedHeight(92);
    lblNewKey = NewLabel(midi, "lblNewKey");
    cbNewKey = NewControl<QComboBox>(midi, "cbNewKey");
    lblNewTempo = NewLabel(midi, "lblNewTempo");
    edtNewTempo = NewControl<QLineEdit>(midi, "edtNewTempo");
    edtNewTempo->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edtNewTempo));
    edtNewTempo->setText(QStringLiteral("120"));
    btnSaveMidi = NewControl<QPushButton>(midi, "btnSaveMidi");
    btnPreviewTransposed = NewControl<QPushButton>(midi, "btnPreviewTransposed");
    midi->Place(lblNewKey, {12, 5, 0, 0});
    midi->Place(cbNewKey, {12, 26, 149, 25});
    midi->Place(lblNewTempo, {164, 5, 0, 0});
    midi->Place(edtNewTempo, {164, 26, 70, 25});
    midi->Place(btnSaveMidi, {264, 24, 150, 32});
    midi->Place(btnPreviewTransposed, {12, 58, 402, 28});
    left->addWidget(pnlMidiSettings);
    middle->addWidget(pnlLeft);

    // A fixed divider line between the column and the viewer; it cannot be dragged.
    Splitter = NewPanel(this, "Splitter");
    Splitter->setFixedWidth(kSplitterWidth);
    Splitter->setAutoFillBackground(true);
    {
        QPalette palette = Splitter->palette();
        palette.setColor(QPalette::Window, palette.color(QPalette::Dark));
        Splitter->setPalette(palette);
    }
    middle->addWidget(Splitter);

    // The viewer: its tool band, and below it the place of the score view.
    pnlViewer = NewPanel(this, "pnlViewer");
    FViewerLayout = new QVBoxLayout(pnlViewer);
    FViewerLayout->setContentsMargins(0, 0, 0, 0);
    FViewerLayout->setSpacing(0);
    auto* tools = NewAnchoredPanel(pnlViewer, "pnlViewerTools", kViewerToolsDesignWidth);
    pnlViewerTools = tools;
    pnlViewerTools->setFixedHeight(44);
    lblViewerTitle = NewLabel(tools, "lblViewerTitle");
    btnZoomOut = NewControl<QPushButton>(tools, "btnZoomOut");
    btnZoomOut->setText(QStringLiteral("\u2212"));
    lblZoom = NewLabel(tools, "lblZoom");
    lblZoom->setAlignment(Qt::AlignCenter);
    lblZoom->setText(QStringLiteral("100%"));
    btnZoomIn = NewControl<QPushButton>(tools, "btnZoomIn");
    btnZoomIn->setText(QStringLiteral("+"));
    btnFitWidth = NewControl<QPushButton>(tools, "btnFitWidth");
    btnFullScreen = NewControl<QPushButton>(tools, "btnFullScreen");
    btnCollapseViewer = NewControl<QPushButton>(tools, "btnCollapseViewer");
    tools->Place(btnZoomOut, {361, 7, 34, 29}, TAnchor::akTopRight);
    tools->Place(lblViewerTitle, {12, 13, 0, 0}, TAnchor::akTopLeft, btnZoomOut);
    // Centred where the designed 32 pixels were, wide enough for "250%".
    tools->Place(lblZoom, {398, 13, 42, 0}, TAnchor::akTopRight);
    tools->Place(btnZoomIn, {445, 7, 34, 29}, TAnchor::akTopRight);
    tools->Place(btnFitWidth, {487, 7, 102, 29}, TAnchor::akTopRight);
    tools->Place(btnFullScreen, {597, 7, 122, 29}, TAnchor::akTopRight);
    tools->Place(btnCollapseViewer, {727, 7, 109, 29}, TAnchor::akTopRight);
    FViewerLayout->addWidget(pnlViewerTools);
    FViewerSpace = new QWidget(pnlViewer);
    FViewerLayout->addWidget(FViewerSpace, 1);
    middle->addWidget(pnlViewer, 1);

    // Status band: the status line and the credit line.
    pnlStatus = NewPanel(this, "pnlStatus");
    pnlStatus->setFixedHeight(28);
    auto* status = new QHBoxLayout(pnlStatus);
    status->setContentsMargins(12, 0, 12, 0);
    status->setSpacing(8);
    lblStatus = NewLabel(pnlStatus, "lblStatus");
    lblStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lblCopyright = NewLabel(pnlStatus, "lblCopyright");
    lblCopyright->setFixedWidth(325);
    lblCopyright->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblCopyright->setText(QStringLiteral("© 2026 Velthane & contributors · Korvalin " KORVALIN_VERSION));
    status->addWidget(lblStatus, 1);
    status->addWidget(lblCopyright);
    root->addWidget(pnlStatus);

    // Drops belong to the window; an edit box would otherwise take a dropped
    // file's path as text.
    for (QLineEdit* edit : {edtFileName, edtPartName, edtNewTempo}) edit->setAcceptDrops(false);

    OpenDialog.DefaultExt = QStringLiteral("mid");
    OpenDialog.FileMustExist = true;
    SaveDialog.DefaultExt = QStringLiteral("musicxml");
    SaveDialog.Filter = QStringLiteral("MusicXML (*.musicxml)|*.musicxml|XML (*.xml)|*.xml");
    SaveDialog.OverwritePrompt = true;
    MidiSaveDialog.DefaultExt = QStringLiteral("mid");
    MidiSaveDialog.OverwritePrompt = true;
}

void TfrmMain::ConnectHandlers() {
    connect(rbRussian, &QAbstractButton::clicked, this, [this] { Guarded([this] { LanguageClick(); }); });
    connect(rbEnglish, &QAbstractButton::clicked, this, [this] { Guarded([this] { LanguageClick(); }); });
    ConnectCommand(btnOpen, &TfrmMain::btnOpenClick);
    ConnectCommand(btnRecent, &TfrmMain::btnRecentClick);
    ConnectCommand(btnSelectAll, &TfrmMain::btnSelectAllClick);
    ConnectCommand(btnSelectNone, &TfrmMain::btnSelectNoneClick);
    ConnectCommand(btnPreviewTransposed, &TfrmMain::btnPreviewTransposedClick);
    ConnectCommand(btnSaveMidi, &TfrmMain::btnSaveMidiClick);
    ConnectCommand(btnPlayAll, &TfrmMain::btnPlayAllClick);
    ConnectCommand(btnPlayTrack, &TfrmMain::btnPlayTrackClick);
    ConnectCommand(btnPlayTransposed, &TfrmMain::btnPlayTransposedClick);
    ConnectCommand(btnStop, &TfrmMain::btnStopClick);
    connect(lvTracks->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection&) {
                Guarded([this, &selected] { lvTracksSelectItem(SelectedRow(), !selected.isEmpty()); });
            });
    connect(edtPartName, &QLineEdit::textChanged, this, [this] { Guarded([this] { edtPartNameChange(); }); });
    connect(cbClef, &QComboBox::currentIndexChanged, this, [this] { Guarded([this] { cbClefChange(); }); });
    ConnectViewerCommands();

    // A button whose command is not part of the window yet is never offered.
    for (QPushButton* button : findChildren<QPushButton*>())
        if (!FCommands.contains(button)) button->setEnabled(false);
}

void TfrmMain::FormCreate() {
    FEnglish = rbEnglish->isChecked();
    FRecentFiles.clear();
    FRecentMenu = new QMenu(this);
    FRecentMenu->setObjectName(QStringLiteral("FRecentMenu"));
    FRecentMenu->setToolTipsVisible(true);
    LoadRecentFiles();
    setAcceptDrops(true);
    FitToWorkArea();
    FMidi = std::make_unique<TMidiFile>();
    FZoom = 1.0;
    cbGrid->setCurrentIndex(1);
    cbClef->setCurrentIndex(0);
    for (QPushButton* button : {btnExport, btnPreview, btnOpenExternal, btnPlayAll, btnPlayTrack, btnStop})
        SetCommandEnabled(button, false);
    pnlTrackSettings->setEnabled(false);
    ApplyLanguage();

    const QDir temporary(TemporaryFolder());
    const qint64 pid = QCoreApplication::applicationPid();
    FPreviewFile = temporary.filePath(QStringLiteral("Korvalin-preview-%1.musicxml").arg(pid));
    FPlaybackTempFile = temporary.filePath(QStringLiteral("Korvalin-track-%1.mid").arg(pid));
    FPreparedPlaybackFile = temporary.filePath(QStringLiteral("Korvalin-playback-%1.mid").arg(pid));
    FTransposedTempFile = temporary.filePath(QStringLiteral("Korvalin-transposed-%1.mid").arg(pid));

    pnlMidiSettings->setEnabled(false);

    StartViewer();
}

void TfrmMain::FormDestroy() {
    setAcceptDrops(false);
    StopPlayback(false);
    ShutDownViewer();
    FMidi.reset();
    DeleteTemporaryFiles();
}

void TfrmMain::DeleteTemporaryFiles() {
    // Each file on its own: one that cannot be deleted (held open by another
    // program, say) must not keep the others on the disk.
    for (const QString* path :
         {&FPreviewFile, &FPlaybackTempFile, &FPreparedPlaybackFile, &FTransposedTempFile, &FDroppedMidiFile})
        if (!path->isEmpty() && QFileInfo::exists(*path)) QFile::remove(*path);
}

QString TfrmMain::TemporaryFolder() {
    const QString temporary = QDir::tempPath();
    const QString canonical = QFileInfo(temporary).canonicalFilePath();
    return canonical.isEmpty() ? temporary : canonical;
}

void TfrmMain::FitToWorkArea() {
    QScreen* screen = QGuiApplication::screenAt(frameGeometry().center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    FitToWorkArea(screen->availableGeometry());
}

void TfrmMain::FitToWorkArea(const QRect& workArea) {
    const int newWidth = std::min(width(), workArea.width());
    const int newHeight = std::min(height(), workArea.height());
    setMinimumSize(std::min(minimumWidth(), newWidth), std::min(minimumHeight(), newHeight));
    resize(newWidth, newHeight);
    move(workArea.left() + (workArea.width() - newWidth) / 2, workArea.top() + (workArea.height() - newHeight) / 2);
}

// ---------------------------------------------------------------------------
// Seams: messages, questions, file dialogs, commands

void TfrmMain::ShowMessage(TMessageKind kind, const QString& text) {
    QMessageBox box(kind == TMessageKind::mkError ? QMessageBox::Critical : QMessageBox::Information,
                    QApplication::applicationDisplayName(), text, QMessageBox::Ok, this);
    box.exec();
}

bool TfrmMain::AskQuestion(const QString& text) {
    return QMessageBox::question(this, QApplication::applicationDisplayName(), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

QString TfrmMain::AskOpenFileName(const TFileDialog& dialog) {
    QFileDialog box(this);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    box.setFileMode(dialog.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    box.setNameFilters(QtNameFilters(dialog.Filter));
    box.setDefaultSuffix(dialog.DefaultExt);
    if (!dialog.InitialDir.isEmpty()) box.setDirectory(dialog.InitialDir);
    if (!dialog.FileName.isEmpty()) box.selectFile(dialog.FileName);
    if (box.exec() != QDialog::Accepted) return {};
    return box.selectedFiles().value(0);
}

QString TfrmMain::AskSaveFileName(const TFileDialog& dialog) {
    QFileDialog box(this);
    box.setAcceptMode(QFileDialog::AcceptSave);
    box.setFileMode(QFileDialog::AnyFile);
    box.setOption(QFileDialog::DontConfirmOverwrite, !dialog.OverwritePrompt);
    box.setNameFilters(QtNameFilters(dialog.Filter));
    box.setDefaultSuffix(dialog.DefaultExt);
    if (!dialog.InitialDir.isEmpty()) box.setDirectory(dialog.InitialDir);
    if (!dialog.FileName.isEmpty()) box.selectFile(dialog.FileName);
    if (box.exec() != QDialog::Accepted) return {};
    return box.selectedFiles().value(0);
}

void TfrmMain::ShowError(const QString& leadLine, const QString& message) {
    ShowMessage(TMessageKind::mkError, leadLine + QLatin1Char('\n') + message);
}

void TfrmMain::Guarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        ShowMessage(TMessageKind::mkError, QString::fromUtf8(e.what()));
    } catch (...) {
        ShowMessage(TMessageKind::mkError,
                    Localized(QStringLiteral("Неизвестная ошибка."), QStringLiteral("Unknown error.")));
    }
}

void TfrmMain::ConnectCommand(QAbstractButton* button, void (TfrmMain::*handler)()) {
    FCommands.insert(button);
    button->setEnabled(true);
    connect(button, &QAbstractButton::clicked, this,
            [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
}

void TfrmMain::SetCommandEnabled(QAbstractButton* button, bool enabled) {
    button->setEnabled(enabled && FCommands.contains(button));
}

void TfrmMain::PlaceViewerWidget(QWidget* view) {
    if (FViewerSpace != nullptr) {
        FViewerLayout->removeWidget(FViewerSpace);
        FViewerSpace->hide();
        FViewerSpace->deleteLater();
        FViewerSpace = nullptr;
    }
    view->setParent(pnlViewer);
    FViewerLayout->addWidget(view, 1);
}

// ---------------------------------------------------------------------------
// Language

QString TfrmMain::Localized(const QString& russian, const QString& english) const {
    return FEnglish ? english : russian;
}

QString TfrmMain::ClefDisplayName(TClefMode mode, bool english) {
    switch (mode) {
        case TClefMode::cmTreble:
            return english ? QStringLiteral("Treble") : QStringLiteral("Скрипичный");
        case TClefMode::cmBass:
            return english ? QStringLiteral("Bass") : QStringLiteral("Басовый");
        default:
            return english ? QStringLiteral("Automatic") : QStringLiteral("Автоматически");
    }
}

void TfrmMain::LanguageClick() {
    FEnglish = rbEnglish->isChecked();
    ApplyLanguage();
}

void TfrmMain::ApplyLanguage() {
    lblFileCaption->setText(Localized(QStringLiteral("MIDI-файл — откройте кнопкой или перетащите в окно"),
                                      QStringLiteral("MIDI file — open with the button or drag it into the window")));
    btnRecent->setText(Localized(QStringLiteral("Недавние ▼"), QStringLiteral("Recent ▼")));
    btnShowViewer->setText(Localized(QStringLiteral("Показать просмотр"), QStringLiteral("Show viewer")));
    btnOpen->setText(Localized(QStringLiteral("Открыть..."), QStringLiteral("Open...")));
    lvTracks->headerItem()->setText(1, Localized(QStringLiteral("Партия"), QStringLiteral("Part")));
    lvTracks->headerItem()->setText(2, Localized(QStringLiteral("Нот"), QStringLiteral("Notes")));
    lvTracks->headerItem()->setText(3, Localized(QStringLiteral("Диапазон"), QStringLiteral("Range")));
    lvTracks->headerItem()->setText(4, Localized(QStringLiteral("Ключ"), QStringLiteral("Clef")));
    lblPartName->setText(Localized(QStringLiteral("Название партии"), QStringLiteral("Part name")));
    lblClef->setText(Localized(QStringLiteral("Ключ"), QStringLiteral("Clef")));
    lblGrid->setText(Localized(QStringLiteral("Сетка округления"), QStringLiteral("Quantization grid")));
    btnSelectAll->setText(Localized(QStringLiteral("Выбрать все"), QStringLiteral("Select all")));
    btnSelectNone->setText(Localized(QStringLiteral("Снять выбор"), QStringLiteral("Clear selection")));
    btnPreview->setText(Localized(QStringLiteral("Показать партитуру"), QStringLiteral("Show score")));
    btnExport->setText(Localized(QStringLiteral("Сохранить MusicXML..."), QStringLiteral("Save MusicXML...")));
    btnOpenExternal->setText(Localized(QStringLiteral("Открыть сохранённый файл"), QStringLiteral("Open saved file")));
    btnPlayAll->setText(Localized(QStringLiteral("▶ Исходный MIDI"), QStringLiteral("▶ Original MIDI")));
    btnPlayTrack->setText(Localized(QStringLiteral("▶ Выбранная партия"), QStringLiteral("▶ Selected part")));
    btnStop->setText(Localized(QStringLiteral("■ Стоп"), QStringLiteral("■ Stop")));
    btnPlayTransposed->setText(
        Localized(QStringLiteral("▶ С новыми настройками"), QStringLiteral("▶ With new settings")));
    lblNewKey->setText(Localized(QStringLiteral("Новая тональность"), QStringLiteral("New key")));
    lblNewTempo->setText(Localized(QStringLiteral("Новый темп, BPM"), QStringLiteral("New tempo, BPM")));
    btnSaveMidi->setText(Localized(QStringLiteral("Сохранить новый MIDI..."), QStringLiteral("Save new MIDI...")));
    btnPreviewTransposed->setText(
        Localized(QStringLiteral("Показать транспонированную партитуру"), QStringLiteral("Show transposed score")));
    lblViewerTitle->setText(Localized(QStringLiteral("Предпросмотр партитуры"), QStringLiteral("Score preview")));
    btnFitWidth->setText(Localized(QStringLiteral("По ширине"), QStringLiteral("Fit width")));
    btnFullScreen->setText(FViewerFullScreen
                               ? Localized(QStringLiteral("Вернуть интерфейс"), QStringLiteral("Restore interface"))
                               : Localized(QStringLiteral("Во весь экран"), QStringLiteral("Full screen")));
    btnCollapseViewer->setText(Localized(QStringLiteral("Свернуть"), QStringLiteral("Collapse")));

    {
        const int clefIndex = cbClef->currentIndex();
        const TFlagGuard editing(FEditingTrack);
        const TUpdatesSuspended suspended(cbClef);
        cbClef->clear();
        cbClef->addItems({Localized(QStringLiteral("Автоматически"), QStringLiteral("Automatic")),
                          Localized(QStringLiteral("Скрипичный"), QStringLiteral("Treble")),
                          Localized(QStringLiteral("Басовый"), QStringLiteral("Bass"))});
        cbClef->setCurrentIndex(clefIndex);
    }

    OpenDialog.Filter = Localized(QStringLiteral("MIDI-файлы (*.mid;*.midi)|*.mid;*.midi|Все файлы (*.*)|*.*"),
                                  QStringLiteral("MIDI files (*.mid;*.midi)|*.mid;*.midi|All files (*.*)|*.*"));
    MidiSaveDialog.Filter = Localized(QStringLiteral("MIDI-файлы (*.mid)|*.mid|Все файлы (*.*)|*.*"),
                                      QStringLiteral("MIDI files (*.mid)|*.mid|All files (*.*)|*.*"));

    for (int i = 0; i < lvTracks->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lvTracks->topLevelItem(i);
        if (const TMidiTrack* rowTrack = RowTrack(item)) UpdateTrackRow(item, *rowTrack);
    }

    if (FSourceMidiFile.isEmpty()) {
        lblTempo->setText(Localized(QStringLiteral("Темп: —"), QStringLiteral("Tempo: —")));
        lblKeySignature->setText(Localized(QStringLiteral("Тональность: —"), QStringLiteral("Key: —")));
        lblStatus->setText(Localized(QStringLiteral("Откройте MIDI-файл, чтобы увидеть музыкальные дорожки."),
                                     QStringLiteral("Open a MIDI file to see its musical tracks.")));
    } else {
        ShowTempoAndKeyLabels();
        lblStatus->setText(Localized(QStringLiteral("MIDI-файл загружен."), QStringLiteral("MIDI file loaded.")));
    }
    RelayoutPanels();
}

void TfrmMain::RelayoutPanels() {
    {
        // The first column holds the check box and the track number; two
        // digits must fit whatever the style's check box costs. The part
        // column gives up what the first one needs beyond its designed 34.
        const QFontMetrics metrics(lvTracks->font());
        const int indicator = lvTracks->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, lvTracks);
        const int first = std::max(34, indicator + metrics.horizontalAdvance(QStringLiteral("00")) + 20);
        lvTracks->setColumnWidth(0, first);
        lvTracks->setColumnWidth(1, std::max(80, 150 - (first - 34)));
    }
    for (QPushButton* button : findChildren<QPushButton*>()) FitFont(button, {button->text()}, button->width() - 8);
    for (QComboBox* combo : {cbClef, cbGrid, cbNewKey}) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        FitFont(combo, items, combo->width() - 36);
    }
    for (QLabel* label : {lblPartName, lblClef, lblGrid, lblNewKey, lblNewTempo})
        FitFont(label, {label->text()}, kLeftWidth - label->x() - 2);
    for (QFrame* panel : {pnlTop, pnlTrackSettings, pnlMidiSettings, pnlViewerTools})
        static_cast<TAnchoredPanel*>(panel)->Relayout();
}

// ---------------------------------------------------------------------------
// Opening a MIDI file and the track list

void TfrmMain::btnOpenClick() {
    const QString fileName = AskOpenFileName(OpenDialog);
    if (!fileName.isEmpty()) OpenMidiFile(fileName, QString());
}

void TfrmMain::OpenMidiFile(const QString& fileName, const QString& displayName) {
    StopPlayback(false);
    ClearViewerScore();
    const TBusyCursor busy;
    try {
        FMidi->LoadFromFile(QFile::encodeName(fileName).toStdString());
        FSourceMidiFile = fileName;
        edtFileName->setText(displayName.isEmpty() ? fileName : displayName);
        ShowLoadedMidi();
        // A file dropped on the score view is a temporary copy: not history.
        if (displayName.isEmpty()) AddRecentFile(fileName, false);
    } catch (const std::exception& e) {
        lvTracks->clear();
        SetCommandEnabled(btnExport, false);
        SetCommandEnabled(btnPreview, false);
        FSourceMidiFile.clear();
        lblTempo->setText(Localized(QStringLiteral("Темп: —"), QStringLiteral("Tempo: —")));
        lblKeySignature->setText(Localized(QStringLiteral("Тональность: —"), QStringLiteral("Key: —")));
        pnlMidiSettings->setEnabled(false);
        UpdatePlaybackButtons();
        lblStatus->setText(
            Localized(QStringLiteral("Не удалось прочитать файл."), QStringLiteral("Could not read the file.")));
        ShowError(Localized(QStringLiteral("Ошибка открытия MIDI:"), QStringLiteral("Error opening MIDI:")),
                  QString::fromUtf8(e.what()));
    }
}

void TfrmMain::ShowLoadedMidi() {
    int parts = 0;
    int serviceTracks = 0;
    {
        const TUpdatesSuspended suspended(lvTracks);
        lvTracks->clear();
        for (const auto& track : FMidi->Tracks()) {
            if (track->Notes().empty()) {
                ++serviceTracks;
                continue;
            }
            ++parts;
            auto* item = new QTreeWidgetItem;
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            item->setText(0, QString::number(track->Index));
            item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(track.get())));
            item->setCheckState(0, Qt::Checked);
            item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
            lvTracks->addTopLevelItem(item);
            UpdateTrackRow(item, *track);
        }
        if (lvTracks->topLevelItemCount() > 0) lvTracks->setCurrentItem(lvTracks->topLevelItem(0));
    }

    SetCommandEnabled(btnExport, parts > 0);
    SetCommandEnabled(btnPreview, parts > 0);

    ShowTempoAndKeyLabels();

    lblStatus->setText(
        Localized(QStringLiteral("Формат %1 · PPQN %2 · размер %3/%4 · партий: %5 · служебных дорожек: %6"),
                  QStringLiteral("Format %1 · PPQN %2 · time %3/%4 · parts: %5 · service tracks: %6"))
            .arg(FMidi->MidiFormat)
            .arg(FMidi->PPQN)
            .arg(FMidi->TimeNumerator)
            .arg(FMidi->TimeDenominator)
            .arg(parts)
            .arg(serviceTracks));

    ShowTrackSettings();
    UpdatePlaybackButtons();
    FillNewKeyControls();
}

void TfrmMain::ShowTempoAndKeyLabels() {
    if (FMidi->HasTempo)
        lblTempo->setText(Localized(QStringLiteral("Темп: %1 BPM"), QStringLiteral("Tempo: %1 BPM"))
                              .arg(QLocale().toString(FMidi->TempoBPM, 'f', 1)));
    else
        lblTempo->setText(Localized(QStringLiteral("Темп: не указан"), QStringLiteral("Tempo: not specified")));

    const QString keyPrefix = Localized(QStringLiteral("Тональность: "), QStringLiteral("Key: "));
    if (FMidi->HasKeySignature)
        lblKeySignature->setText(keyPrefix + FromUtf8(FMidi->KeyName()) +
                                 Localized(QStringLiteral(" (из файла)"), QStringLiteral(" (from file)")));
    else if (FMidi->KeyWasEstimated)
        lblKeySignature->setText(keyPrefix + FromUtf8(FMidi->KeyName()) +
                                 Localized(QStringLiteral(" (по нотам)"), QStringLiteral(" (estimated from notes)")));
    else
        lblKeySignature->setText(
            Localized(QStringLiteral("Тональность: не определена"), QStringLiteral("Key: not detected")));
}

void TfrmMain::UpdateTrackRow(QTreeWidgetItem* item, const TMidiTrack& track) {
    item->setText(1, FromUtf8(track.ExportName));
    item->setText(2, QString::number(track.Notes().size()));
    item->setText(3, FromUtf8(korvalin::PitchName(track.MinPitch())) + QStringLiteral(" – ") +
                         FromUtf8(korvalin::PitchName(track.MaxPitch())));
    item->setText(4, ClefDisplayName(track.ClefMode, FEnglish));
}

QTreeWidgetItem* TfrmMain::SelectedRow() const { return lvTracks->selectedItems().value(0, nullptr); }

TMidiTrack* TfrmMain::RowTrack(const QTreeWidgetItem* item) {
    if (item == nullptr) return nullptr;
    return reinterpret_cast<TMidiTrack*>(item->data(0, Qt::UserRole).value<quintptr>());
}

// ---------------------------------------------------------------------------
// Track settings and selection

void TfrmMain::lvTracksSelectItem(QTreeWidgetItem*, bool selected) {
    if (!selected) return;
    ShowTrackSettings();
    UpdatePlaybackButtons();
}

void TfrmMain::ShowTrackSettings() {
    const TFlagGuard editing(FEditingTrack);
    const QTreeWidgetItem* row = SelectedRow();
    pnlTrackSettings->setEnabled(row != nullptr);
    if (const TMidiTrack* track = RowTrack(row)) {
        edtPartName->setText(FromUtf8(track->ExportName));
        cbClef->setCurrentIndex(static_cast<int>(track->ClefMode));
    } else {
        edtPartName->clear();
        cbClef->setCurrentIndex(0);
    }
}

void TfrmMain::edtPartNameChange() {
    if (FEditingTrack) return;
    QTreeWidgetItem* row = SelectedRow();
    TMidiTrack* track = RowTrack(row);
    if (track == nullptr) return;
    track->ExportName = edtPartName->text().toStdString();
    UpdateTrackRow(row, *track);
}

void TfrmMain::cbClefChange() {
    if (FEditingTrack) return;
    QTreeWidgetItem* row = SelectedRow();
    TMidiTrack* track = RowTrack(row);
    const int index = cbClef->currentIndex();
    if (track == nullptr || index < 0) return;
    track->ClefMode = static_cast<TClefMode>(index);
    UpdateTrackRow(row, *track);
}

void TfrmMain::btnSelectAllClick() { SetAllChecked(true); }

void TfrmMain::btnSelectNoneClick() { SetAllChecked(false); }

void TfrmMain::SetAllChecked(bool value) {
    for (int i = 0; i < lvTracks->topLevelItemCount(); ++i)
        lvTracks->topLevelItem(i)->setCheckState(0, value ? Qt::Checked : Qt::Unchecked);
}

std::vector<const TMidiTrack*> TfrmMain::TickedTracks() const {
    std::vector<const TMidiTrack*> tracks;
    for (int i = 0; i < lvTracks->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lvTracks->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked) tracks.push_back(RowTrack(item));
    }
    return tracks;
}

int TfrmMain::SelectedGrid() const {
    switch (cbGrid->currentIndex()) {
        case 0:
            return 8;
        case 2:
            return 32;
        default:
            return 16;
    }
}

// ---------------------------------------------------------------------------
// New key and tempo controls, playback buttons

void TfrmMain::FillNewKeyControls() {
    const bool keyKnown = FMidi->HasKeySignature || FMidi->KeyWasEstimated;
    {
        const TUpdatesSuspended suspended(cbNewKey);
        cbNewKey->clear();
        for (int fifths = -7; fifths <= 7; ++fifths)
            cbNewKey->addItem(FromUtf8(korvalin::KeyNameFromFifths(fifths, FMidi->KeyMinor)));
        cbNewKey->setCurrentIndex(keyKnown ? std::clamp(FMidi->KeyFifths, -7, 7) + 7 : -1);
    }
    edtNewTempo->setText(QString::number(korvalin::WholeTempo(FMidi->TempoBPM)));
    RelayoutPanels();
    pnlMidiSettings->setEnabled(!FSourceMidiFile.isEmpty() && keyKnown);
    UpdatePlaybackButtons();
}

void TfrmMain::UpdatePlaybackButtons() {
    const bool sourceExists = !FSourceMidiFile.isEmpty() && QFileInfo::exists(FSourceMidiFile);
    SetCommandEnabled(btnPlayAll, sourceExists && !FPlaybackOpen);
    SetCommandEnabled(btnPlayTrack, SelectedRow() != nullptr && !FPlaybackOpen);
    SetCommandEnabled(btnPlayTransposed, pnlMidiSettings->isEnabled() && !FPlaybackOpen);
    SetCommandEnabled(btnStop, FPlaybackOpen);
}

// ---------------------------------------------------------------------------
// Files dropped onto the window

namespace {

QStringList LocalFiles(const QMimeData* mime) {
    QStringList files;
    if (mime == nullptr || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

}  // namespace

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (LocalFiles(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void TfrmMain::dragMoveEvent(QDragMoveEvent* event) {
    if (LocalFiles(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    const QStringList files = LocalFiles(event->mimeData());
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The drag source waits until the drop returns; a message box opened from
    // inside the drop would hold it (and the desktop's drag) until closed.
    QMetaObject::invokeMethod(
        this, [this, files] { Guarded([this, &files] { WMDropFiles(files); }); }, Qt::QueuedConnection);
}

void TfrmMain::WMDropFiles(const QStringList& fileNames) {
    for (const QString& name : fileNames) {
        const QString extension = QFileInfo(name).suffix().toLower();
        if (extension == QLatin1String("mid") || extension == QLatin1String("midi")) {
            OpenMidiFile(name, QString());
            return;
        }
    }
    ShowMessage(TMessageKind::mkInformation,
                Localized(QStringLiteral("Перетащите MIDI-файл с расширением .mid или .midi."),
                          QStringLiteral("Drag a MIDI file with the .mid or .midi extension.")));
}

// ---------------------------------------------------------------------------
// Keyboard: Enter presses the focused button, else the window's default button

void TfrmMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QPushButton* target = (focused != nullptr && focused->isEnabled()) ? focused : btnPreview;
        if (target->isEnabled() && target->isVisible()) {
            target->click();
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}
