// "I see dead pixels...": the main window's 100% crop at 1:1, a search of exactly that part of
// the raw data for photosites that stand out from their same-colour neighbours, a square on each
// candidate (red: click to confirm, green: confirmed, orange: already registered), and OK adding
// the confirmed ones to the camera body's dead-pixel list.
#pragma once

#include "engine/pixel_point.h"
#include "platform/message_box.h"
#include "ui/logic/dead_pixel_finder.h"

#include <QDialog>
#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class TFDeadPixels;
}

namespace platform {
class IniFile;
}

namespace ui {

// The engine's search: candidates of the rectangle (column, row, height, width) above threshold.
using DeadPixelSearch = std::function<std::vector<engine::PixelPoint>(int32_t column, int32_t row, int32_t height,
                                                                      int32_t width, int32_t threshold)>;

// A candidate's square on the picture.
class DeadPixelMarker : public QWidget {
public:
    enum class State { kCandidate, kConfirmed, kRegistered };
    DeadPixelMarker(int tag, State state, QWidget* parent);
    int Tag() const { return fTag; }
    State CurrentState() const { return fState; }
    void SetState(State state);
    QColor PenColour() const;
    std::function<void(DeadPixelMarker&)> onClick; // empty for a registered pixel

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int fTag;
    State fState;
};

class TFDeadPixels : public QDialog {
    Q_OBJECT
public:
    TFDeadPixels(platform::IniFile& settings, platform::MessageBoxService& boxes, DeadPixelSearch search,
                 QWidget* parent = nullptr);
    ~TFDeadPixels() override;

    // Whether pixels of a body with this serial number can be registered: a photo without a
    // usable serial number has no list to add to, so the main window keeps the finder closed.
    static bool CanRegister(const std::string& serial);

    // The crop the main window shows, where it lies in the result preview, and where the
    // preview's pixels lie in the raw image.
    void SetPicture(const QImage& crop, double cropColumn, double cropRow, const RawMapping& mapping = {});
    // The camera body of the open photo.
    void SetBody(const std::string& serial, const std::string& model);

    const std::vector<DeadPixelMarker*>& Markers() const { return fMarkers; }
    int ConfirmedCount() const { return fConfirmed; }

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void btFindClick();
    void btOkClick();
    void btCancelClick();

private:
    void FormShow();
    void ShapeClick(DeadPixelMarker& marker);
    void ClearMarkers();
    void SetStatus(const std::string& text, const QColor& colour);

    std::unique_ptr<Ui::TFDeadPixels> fUi;
    platform::IniFile& fSettings;
    platform::MessageBoxService& fBoxes;
    DeadPixelSearch fSearch;
    QImage fCrop;
    double fCropColumn = 0;
    double fCropRow = 0;
    RawMapping fMapping;
    std::string fSerial;
    std::string fModel;
    std::vector<DeadPixelMarker*> fMarkers; // children of the picture
    std::vector<engine::PixelPoint> fCandidates;
    int fConfirmed = 0;
};

} // namespace ui
