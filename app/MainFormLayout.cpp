// The window's controls: their creation and places, and how they follow the
// window's size and the desktop's fonts.

#include "MainForm.h"
#include "MainFormSupport.h"

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
#include <vector>

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
    void paintEvent(QPaintEvent* event) override {
        // A caption allowed a second line is drawn whole on two lines instead.
        if (wordWrap()) {
            QLabel::paintEvent(event);
            return;
        }
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

}  // namespace

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
    pnlTrackSettings->setFixedHeight(306);
    lblPartName = NewLabel(track, "lblPartName");
    edtPartName = NewControl<QLineEdit>(track, "edtPartName");
    lblClef = NewLabel(track, "lblClef");
    cbClef = NewControl<QComboBox>(track, "cbClef");
    cbClef->addItems({QStringLiteral("Автоматически"), QStringLiteral("Скрипичный"), QStringLiteral("Басовый")});
    lblGrid = NewLabel(track, "lblGrid");
    cbGrid = NewControl<QComboBox>(track, "cbGrid");
    cbGrid->addItems({QStringLiteral("1/8"), QStringLiteral("1/16"), QStringLiteral("1/32")});
    lblNotation = NewLabel(track, "lblNotation");
    cbNotation = NewControl<QComboBox>(track, "cbNotation");
    cbNotation->addItems({QStringLiteral("Как сыграно"), QStringLiteral("Для чтения")});
    lblMeter = NewLabel(track, "lblMeter");
    cbMeter = NewControl<QComboBox>(track, "cbMeter");
    lblFirstBeat = NewLabel(track, "lblFirstBeat");
    edtFirstBeat = NewControl<QLineEdit>(track, "edtFirstBeat");
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
    btnPause = NewControl<QPushButton>(track, "btnPause");
    btnPlayTransposed = NewControl<QPushButton>(track, "btnPlayTransposed");
    track->Place(lblPartName, {12, 4, 0, 0});
    track->Place(edtPartName, {12, 24, 402, 25});
    track->Place(lblClef, {164, 61, 0, 0});
    track->Place(cbClef, {164, 82, 136, 25});
    track->Place(lblGrid, {312, 61, 0, 0});
    track->Place(cbGrid, {312, 82, 102, 25});
    // How the score is written, under the two choices it goes with.
    track->Place(lblNotation, {164, 119, 0, 0});
    track->Place(cbNotation, {250, 114, 164, 25});
    // What readable notation is told about a free performance, under the choice it serves.
    track->Place(lblMeter, {12, 150, 0, 0});
    track->Place(cbMeter, {76, 145, 76, 25});
    track->Place(lblFirstBeat, {164, 150, 0, 0});
    track->Place(edtFirstBeat, {250, 145, 164, 25});
    track->Place(btnSelectAll, {12, 61, 140, 28});
    track->Place(btnSelectNone, {12, 95, 140, 28});
    track->Place(btnPreview, {12, 190, 402, 32});
    track->Place(btnExport, {225, 228, 189, 32});
    track->Place(btnOpenExternal, {12, 228, 205, 32});
    track->Place(btnPlayAll, {12, 266, 125, 32});
    track->Place(btnPlayTrack, {12, 266, 176, 32});
    // Pause beside Stop, as a symbol whose tip names it.
    track->Place(btnPause, {329, 266, 28, 32});
    track->Place(btnStop, {361, 266, 53, 32});
    track->Place(btnPlayTransposed, {145, 266, 176, 32});
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
    btnPrint = NewControl<QPushButton>(tools, "btnPrint");
    btnSavePdf = NewControl<QPushButton>(tools, "btnSavePdf");
    tools->Place(btnPrint, {139, 7, 86, 29}, TAnchor::akTopRight);
    tools->Place(btnSavePdf, {231, 7, 122, 29}, TAnchor::akTopRight);
    tools->Place(btnZoomOut, {361, 7, 34, 29}, TAnchor::akTopRight);
    // The caption may take a second line: in Russian it is wider than the
    // room the buttons leave it at the window's default width.
    lblViewerTitle->setWordWrap(true);
    lblViewerTitle->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    tools->Place(lblViewerTitle, {12, 2, 0, 40}, TAnchor::akTopLeft, btnPrint);
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
    // Audio files and the SoundFont: commands of the whole window, there
    // before any file is open and for files whose key is unknown.
    btnSaveAudio = NewControl<QPushButton>(pnlStatus, "btnSaveAudio");
    btnSoundFont = NewControl<QPushButton>(pnlStatus, "btnSoundFont");
    for (QPushButton* button : {btnSaveAudio, btnSoundFont}) {
        button->setFixedHeight(24);
        status->addWidget(button);
    }
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
    PdfSaveDialog.DefaultExt = QStringLiteral("pdf");
    PdfSaveDialog.Filter = QStringLiteral("PDF (*.pdf)|*.pdf");
    PdfSaveDialog.OverwritePrompt = true;
    MidiSaveDialog.DefaultExt = QStringLiteral("mid");
    MidiSaveDialog.OverwritePrompt = true;
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
    for (QComboBox* combo : {cbClef, cbGrid, cbNotation, cbMeter, cbNewKey}) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        FitFont(combo, items, combo->width() - 36);
    }
    // A caption ends where the column's controls end, not at the panel's edge.
    constexpr int kColumnMargin = 16;
    for (QLabel* label : {lblPartName, lblClef, lblGrid, lblNewKey, lblNewTempo})
        FitFont(label, {label->text()}, kLeftWidth - kColumnMargin - label->x());
    FitFont(lblNotation, {lblNotation->text()}, cbNotation->x() - lblNotation->x() - 6);
    FitFont(lblMeter, {lblMeter->text()}, cbMeter->x() - lblMeter->x() - 6);
    FitFont(lblFirstBeat, {lblFirstBeat->text()}, edtFirstBeat->x() - lblFirstBeat->x() - 6);
    for (QFrame* panel : {pnlTop, pnlTrackSettings, pnlMidiSettings, pnlViewerTools})
        static_cast<TAnchoredPanel*>(panel)->Relayout();
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
