#include "ui/deadpixels.h"

#include "platform/dead_pixel_store.h"
#include "ui/wait_cursor.h"
#include "ui_deadpixels.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <exception>

namespace ui {

namespace {

QColor ColourOf(StatusColour c)
{
    switch (c) {
    case StatusColour::kMaroon: return QColor(0x80, 0, 0);
    case StatusColour::kGreen: return QColor(0, 0x80, 0);
    case StatusColour::kOrange: return QColor(255, 128, 64);
    case StatusColour::kBlack: break;
    }
    return Qt::black;
}

bool Contains(const std::vector<platform::DeadPixel>& list, const engine::PixelPoint& p)
{
    return std::find(list.begin(), list.end(), platform::DeadPixel{p.x, p.y}) != list.end();
}

} // namespace

DeadPixelMarker::DeadPixelMarker(int tag, State state, QWidget* parent) : QWidget(parent), fTag(tag), fState(state)
{
    setFixedSize(kMarkerSize, kMarkerSize);
    setAttribute(Qt::WA_TranslucentBackground);
}

void DeadPixelMarker::SetState(State state)
{
    fState = state;
    update();
}

QColor DeadPixelMarker::PenColour() const
{
    switch (fState) {
    case State::kConfirmed: return QColor(0, 0x80, 0);
    case State::kRegistered: return QColor(255, 128, 64);
    case State::kCandidate: break;
    }
    return QColor(255, 0, 0);
}

void DeadPixelMarker::paintEvent(QPaintEvent*)
{
    // A square outline two pixels wide; the pixel in its centre stays visible.
    QPainter p(this);
    const QColor pen = PenColour();
    p.fillRect(0, 0, width(), 2, pen);
    p.fillRect(0, height() - 2, width(), 2, pen);
    p.fillRect(0, 0, 2, height(), pen);
    p.fillRect(width() - 2, 0, 2, height(), pen);
}

void DeadPixelMarker::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && onClick)
        onClick(*this);
}

TFDeadPixels::TFDeadPixels(platform::IniFile& settings, platform::MessageBoxService& boxes, DeadPixelSearch search,
                           QWidget* parent)
    : QDialog(parent), fUi(std::make_unique<Ui::TFDeadPixels>()), fSettings(settings), fBoxes(boxes),
      fSearch(std::move(search))
{
    fUi->setupUi(this);
    // Room for the longest status text on two lines, so that the dialog keeps its size.
    fUi->lbStatus->setMinimumHeight(2 * fUi->lbStatus->fontMetrics().lineSpacing() + 4);
    connect(fUi->btFind, &QPushButton::clicked, this, &TFDeadPixels::btFindClick);
    connect(fUi->btOk, &QPushButton::clicked, this, &TFDeadPixels::btOkClick);
    connect(fUi->btCancel, &QPushButton::clicked, this, &TFDeadPixels::btCancelClick);
}

TFDeadPixels::~TFDeadPixels() = default;

bool TFDeadPixels::CanRegister(const std::string& serial) { return platform::DeadPixelStore::IsStorableSerial(serial); }

void TFDeadPixels::SetPicture(const QImage& crop, double cropColumn, double cropRow, const RawMapping& mapping)
{
    fMapping = mapping;
    fCrop = crop;
    fCropColumn = cropColumn;
    fCropRow = cropRow;
    fUi->img100->setPixmap(QPixmap::fromImage(crop));
}

void TFDeadPixels::SetBody(const std::string& serial, const std::string& model)
{
    fSerial = serial;
    fModel = model;
}

void TFDeadPixels::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFDeadPixels::FormShow()
{
    ClearMarkers();
    fUi->btOk->setEnabled(false);
    const bool usable = CanRegister(fSerial) && !fCrop.isNull();
    fUi->btFind->setEnabled(usable);
    if (usable)
        btFindClick();
}

void TFDeadPixels::SetStatus(const std::string& text, const QColor& colour)
{
    QPalette palette = fUi->lbStatus->palette();
    palette.setColor(QPalette::WindowText, colour);
    fUi->lbStatus->setPalette(palette);
    fUi->lbStatus->setText(QString::fromStdString(text));
}

void TFDeadPixels::ClearMarkers()
{
    for (DeadPixelMarker* m : fMarkers)
        delete m;
    fMarkers.clear();
    fCandidates.clear();
    fConfirmed = 0;
}

void TFDeadPixels::btFindClick()
{
    if (!CanRegister(fSerial) || fCrop.isNull())
        return;
    const platform::DeadPixelStore store(fSettings);
    const std::vector<platform::DeadPixel> registered = store.Load(fSerial);

    SetStatus("Searching for dead pixels...", Qt::black);
    fUi->lbStatus->repaint();
    fUi->btFind->setEnabled(false);
    fUi->btFind->repaint();
    fUi->btOk->setEnabled(false);
    ClearMarkers();
    {
        WaitCursor wait;
        // Exactly the rectangle the picture shows, at 1:1.
        const FinderArea area = FinderSearchArea(fCropColumn, fCropRow, fCrop.width(), fCrop.height(), fMapping);
        try {
            fCandidates = fSearch(area.left, area.top, area.height, area.width, fUi->udThreshold->value());
        } catch (const std::exception& e) {
            fCandidates.clear();
            fBoxes.Show({std::string("Whoa... that's a bug...\n\n") + e.what(), "Velloray error",
                         platform::MessageIcon::kWarning});
        }

        size_t alreadyRegistered = 0;
        if (fCandidates.size() <= kFinderMaxMarkers) {
            for (size_t i = 0; i < fCandidates.size(); ++i) {
                const engine::PixelPoint& c = fCandidates[i];
                const bool known = Contains(registered, c);
                alreadyRegistered += known ? 1 : 0;
                auto* marker = new DeadPixelMarker(int(i), known ? DeadPixelMarker::State::kRegistered
                                                                 : DeadPixelMarker::State::kCandidate,
                                                   fUi->img100);
                if (!known)
                    marker->onClick = [this](DeadPixelMarker& m) { ShapeClick(m); };
                const MarkerPosition at = MarkerTopLeft(area, c.x, c.y, fMapping);
                marker->move(at.x, at.y);
                marker->show();
                marker->raise();
                fMarkers.push_back(marker);
            }
        }
        const FinderStatus status = SearchStatus(fCandidates.size(), alreadyRegistered);
        SetStatus(status.text, ColourOf(status.colour));
    }
    fUi->btFind->setEnabled(true);
    fUi->btFind->repaint();
}

void TFDeadPixels::ShapeClick(DeadPixelMarker& marker)
{
    if (marker.CurrentState() == DeadPixelMarker::State::kCandidate) {
        marker.SetState(DeadPixelMarker::State::kConfirmed);
        ++fConfirmed;
    } else {
        marker.SetState(DeadPixelMarker::State::kCandidate);
        --fConfirmed;
    }
    if (fConfirmed <= 0)
        fConfirmed = 0;
    fUi->btOk->setEnabled(fConfirmed > 0);
    SetStatus(ConfirmedStatus(fConfirmed), fUi->lbStatus->palette().color(QPalette::WindowText));
}

void TFDeadPixels::btOkClick()
{
    platform::DeadPixelStore store(fSettings);
    const std::vector<platform::DeadPixel> registered = store.Load(fSerial);
    int added = 0;
    bool failed = false;
    for (const DeadPixelMarker* m : fMarkers) {
        if (m->CurrentState() != DeadPixelMarker::State::kConfirmed || m->Tag() < 0 ||
            size_t(m->Tag()) >= fCandidates.size())
            continue;
        const engine::PixelPoint& c = fCandidates[size_t(m->Tag())];
        if (Contains(registered, c))
            continue;
        // A full list takes no further pixel; the message counts only those stored.
        if (store.FirstFreeKey(fSerial) > platform::DeadPixelStore::kMaxPixels)
            continue;
        if (store.Add(fSerial, fModel, c.x, c.y))
            ++added;
        else
            failed = true;
    }
    failed = !store.RegisterBody(fSerial, fModel) || failed;

    if (failed) {
        // A refused or failed write must not pass for success: say so and why.
        fBoxes.Show({"The dead pixel list could not be saved...\n\n" + fSettings.LastError() + "\n\n" +
                         std::to_string(added) + " of the confirmed pixels were added.",
                     "Pixels not added", platform::MessageIcon::kWarning});
    } else {
        fBoxes.Show({PixelsAddedMessage(added), "Pixels added", platform::MessageIcon::kInformation});
    }
    accept();
}

void TFDeadPixels::btCancelClick()
{
    ClearMarkers();
    reject();
}

} // namespace ui
