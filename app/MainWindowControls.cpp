// MainWindow's controls: the displays, the buttons and the list, built and
// laid out, and the window's rounded shape and its painting.
#include "app/MainWindow.h"

#include "app/CachedLabel.h"
#include "app/Formats.h"
#include "app/GradientFill.h"
#include "app/Panel.h"
#include "app/PlaylistModel.h"

#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QTreeView>

namespace zumo {

static const QColor kWindowBlue(130, 132, 255);
static const QColor kBlack(0, 0, 0);
static const QColor kGreen(0, 255, 0);
static const QColor kRed(255, 0, 0);
static const QColor kYellow(255, 255, 0);
static const QColor kWhite(255, 255, 255);
static const QColor kSilver(192, 192, 192);

// "Arial" 12 pixels to the em: a line of it is 14 pixels high (ascent 11,
// descent 3), the height the displays were drawn for. Debian desktops give
// Liberation Sans for it, with Arial's widths: "00.00" is 30 pixels wide,
// "000 kb/s" 46 and "Zumo mp3 player" 94.
static constexpr int kDisplayFontPixels = 12;
// The time displays are two pixels wider than their text, so that no
// rendering or scale puts a glyph's edge on their border.
static constexpr int kTimeLabelWidth = 32;
// Space kept between the bit rate and the scrolling title.
static constexpr int kBitrateGap = 6;

static void SetLabelLook(QLabel* label, QColor colour) {
    QFont font("Arial");
    font.setPixelSize(kDisplayFontPixels);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAutoFillBackground(false);
    label->setMargin(0);
}

QRegion RoundedRegion(QSize size) {
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, size.width(), size.height()), 5, 5);
    return QRegion(path.toFillPolygon().toPolygon());
}

void MainWindow::BuildControls() {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kWindowBlue);
    setPalette(palette);
    backgroundBitmap = QImage(245, 28, QImage::Format_RGB32);
    GradientFill(backgroundBitmap, kWindowBlue, kBlack, 1);

    displayStrip = new Panel(this, 5, &backgroundBitmap);
    displayStrip->setGeometry(0, 0, 245, 28);

    infoPanel = new Panel(displayStrip, 2);
    infoPanel->setGeometry(5, 5, 245 - 10, 28 - 10);
    infoPanel->resize(infoPanel->width(), 28);
    bool stripFitted = false;
    FitContainer(displayStrip, 5, stripFitted, infoPanel);
    infoPanel->setMask(RoundedRegion(infoPanel->size()));

    elapsedLabel = new QLabel(QStringLiteral("00.00"), infoPanel);
    SetLabelLook(elapsedLabel, kGreen);
    elapsedLabel->resize(kTimeLabelWidth, 15);
    RightOfPrevious(infoPanel, elapsedLabel);
    totalLabel = new QLabel(QStringLiteral("00.00"), infoPanel);
    SetLabelLook(totalLabel, kRed);
    totalLabel->resize(kTimeLabelWidth, 15);
    RightOfPrevious(infoPanel, totalLabel);
    bitrateLabel = new QLabel(QStringLiteral("000 kb/s"), infoPanel);
    SetLabelLook(bitrateLabel, kYellow);
    bitrateLabel->setContentsMargins(0, 0, kBitrateGap, 0);
    RightOfPrevious(infoPanel, bitrateLabel);
    bitrateLabel->adjustSize();
    Fit(infoPanel, bitrateLabel);

    titleClip = new Panel(infoPanel, 2);
    titleClip->resize(100, displayStrip->height());
    RightOfPrevious(infoPanel, titleClip);
    Fit(infoPanel, titleClip);
    titleClip->margin = 0;
    titleClip->resize(titleClip->width(), displayStrip->height());
    Fit(infoPanel, titleClip);

    titleLabel = new CachedLabel(QString::fromUtf8(kIdleText), titleClip);
    SetLabelLook(titleLabel, kWhite);
    RightOfPrevious(titleClip, titleLabel);
    titleLabel->adjustSize();
    Fit(titleClip, titleLabel);
    currentTitle = titleLabel->text();
    currentTitleWidth = titleLabel->fontMetrics().horizontalAdvance(currentTitle);

    for (QWidget* surface :
         {static_cast<QWidget*>(infoPanel), static_cast<QWidget*>(elapsedLabel), static_cast<QWidget*>(totalLabel),
          static_cast<QWidget*>(bitrateLabel), static_cast<QWidget*>(titleClip), static_cast<QWidget*>(titleLabel)})
        surface->installEventFilter(this);

    buttonStrip = new Panel(this, 2, &backgroundBitmap);
    buttonStrip->setGeometry(0, displayStrip->geometry().bottom() + 1, 245, 28);
    bool windowFitted = false;
    FitContainer(this, 0, windowFitted, buttonStrip);

    buttonGlyphs = QImage(60, 20, QImage::Format_RGB32);
    GradientFill(buttonGlyphs, kWindowBlue, kBlack, 2);

    auto onClick = [this](FixedButton* b) { OnButtonClick(b); };
    CommandFlags& flags = shared->flags;
    pauseButton = new FixedButton(buttonStrip, &buttonGlyphs, ';', kSilver, &flags.pause, 200);
    pauseButton->setGeometry(5, 5, 30, 20);
    buttonStrip->last = pauseButton;
    pauseButton->SetClickAction(onClick);
    playButton = new FixedButton(buttonStrip, &buttonGlyphs, '4', kGreen, &flags.play, 200);
    playButton->resize(30, 20);
    RightOfPrevious(buttonStrip, playButton);
    playButton->SetClickAction(onClick);
    prevButton = new FixedButton(buttonStrip, &buttonGlyphs, '9', kSilver, &flags.prev, 200);
    prevButton->resize(30, 20);
    RightOfPrevious(buttonStrip, prevButton);
    Fit(buttonStrip, prevButton);
    nextButton = new FixedButton(buttonStrip, &buttonGlyphs, ':', kSilver, &flags.next, 200);
    nextButton->resize(30, 20);
    RightOfPrevious(buttonStrip, nextButton);
    Fit(buttonStrip, nextButton);
    repeatButton = new FixedButton(buttonStrip, &buttonGlyphs, 'q', kSilver, &flags.repeat, 200);
    repeatButton->resize(30, 20);
    RightOfPrevious(buttonStrip, repeatButton);
    Fit(buttonStrip, repeatButton);
    repeatButton->installEventFilter(this);
    listButton = new FixedButton(buttonStrip, &buttonGlyphs, '6', kSilver, &flags.list, 200);
    listButton->resize(30, 20);
    RightOfPrevious(buttonStrip, listButton);
    Fit(buttonStrip, listButton);
    listButton->SetClickAction(onClick);
    infoButton = new InfoButton(buttonStrip, &buttonGlyphs, 'i', kSilver);
    infoButton->resize(30, 20);
    RightOfPrevious(buttonStrip, infoButton);
    Fit(buttonStrip, infoButton);
    infoButton->SetClickAction([this](InfoButton* b) { OnButtonClick(b); });
    compactHeight = height();

    closeGlyphs = QImage(22, 22, QImage::Format_RGB32);
    GradientFill(closeGlyphs, kBlack, kRed, 2);
    closeButton = new FixedButton(buttonStrip, &closeGlyphs, ' ', kSilver, &flags.close, 0);
    closeButton->resize(10, 20);
    RightOfPrevious(buttonStrip, closeButton);
    Fit(buttonStrip, closeButton);
    closeButton->SetClickAction(onClick);

    playlistPanel = new Panel(this, 2);
    playlistPanel->setGeometry(0, buttonStrip->geometry().bottom() + 1, width() - 5, 200);
    model = new PlaylistModel(this, [this](int row, int column) { return ProvideCell(row, column); });
    playlistView = new QTreeView(playlistPanel);
    playlistView->setModel(model);
    playlistView->setRootIsDecorated(false);
    playlistView->setUniformRowHeights(true);
    playlistView->setItemsExpandable(false);
    playlistView->setSelectionBehavior(QAbstractItemView::SelectRows);
    playlistView->setSelectionMode(QAbstractItemView::SingleSelection);
    playlistView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    playlistView->header()->setStretchLastSection(false);
    playlistView->header()->setSectionsMovable(false);
    playlistView->setColumnWidth(0, 150);
    playlistView->setColumnWidth(1, 150);
    QPalette listPalette = playlistView->palette();
    listPalette.setColor(QPalette::Base, kBlack);
    listPalette.setColor(QPalette::AlternateBase, kBlack);
    listPalette.setColor(QPalette::Text, kYellow);
    playlistView->setPalette(listPalette);
    const int m = playlistPanel->margin;
    playlistView->setGeometry(m, m, playlistPanel->width() - 2 * m, playlistPanel->height() - 2 * m);
    playlistView->viewport()->installEventFilter(this);

    setFixedSize(size());
}

void MainWindow::Reshape() {
    const QRegion shape = RoundedRegion(size());
    setMask(shape);
    // The strips reach into the corners: each is cut to the window's shape.
    for (QWidget* strip : {static_cast<QWidget*>(displayStrip), static_cast<QWidget*>(buttonStrip),
                           static_cast<QWidget*>(playlistPanel)})
        strip->setMask(shape.translated(-strip->pos()).intersected(strip->rect()));
    update();
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setClipRegion(RoundedRegion(size()));
    painter.fillRect(rect(), kWindowBlue);
}

} // namespace zumo
