// The pass for bodies whose colour filter array was removed: every photosite records plain light,
// yet the sites the colour pattern still labels G1, G2, red and blue answer at slightly different
// levels. Instead of interpolating, the pass evens out the G2 sites against the G1 sites (with a
// value the user gives or one searched for) and scales the red and blue sites so that their sums
// match the G1 sum, then writes the photosites back into the stage-1 image.
#include "engine_ui.h"
#include "progress_reporter.h"
#include "vrel_negative.h"

#include "dng/error.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace engine {

namespace {

// The automatic search tries 100, 150, ..., 2450.
constexpr int32_t kAutoFirstValue = 100;
constexpr int32_t kAutoLastValue = 2450;
constexpr int32_t kAutoValueStep = 50;

// fCorrectionRatios by index.
constexpr size_t kRedOverG1 = 0;
constexpr size_t kRedFactor = 1; // G1 / red
constexpr size_t kBlueOverG1 = 2;
constexpr size_t kBlueFactor = 3; // G1 / blue
constexpr size_t kG1OverG2 = 4;

void SetStatus(ProgressReporter* progress, const std::string& text)
{
    if (progress)
        progress->SetText(text);
}

void ResetBar(ProgressReporter* progress, int32_t maximum)
{
    if (progress && progress->Bar()) {
        progress->Bar()->SetRange(0, maximum);
        progress->Bar()->SetPosition(0);
    }
}

void ShowRatioError(const VrelNegative& negative, const std::string& text)
{
    if (negative.fUi)
        negative.fUi->MessageBoxes().Show(
            {text, "Error", platform::MessageIcon::kError, platform::MessageButtons::kOk, true});
}

// The main window's G1/G2 edit takes the value the automatic search found, so that switching to
// the manual setting afterwards starts from it.
void ShowFoundValue(EngineUi* ui, int32_t value)
{
    if (ui)
        ui->SetG1G2ManualText(std::to_string(value));
}

// Which colour each of the four pattern phases holds; the pattern repeats every two rows and
// columns, so the predicates are asked once per phase.
struct PhaseColours {
    bool red[2][2] = {};
    bool blue[2][2] = {};
    bool g1[2][2] = {};
    bool g2[2][2] = {};
};

PhaseColours ColoursOf(const VrelNegative& negative)
{
    PhaseColours colours;
    for (int32_t py = 0; py < 2; ++py)
        for (int32_t px = 0; px < 2; ++px) {
            colours.red[py][px] = negative.IsRedPixel(px, py);
            colours.blue[py][px] = negative.IsBluePixel(px, py);
            colours.g1[py][px] = negative.IsG1Pixel(px, py);
            colours.g2[py][px] = negative.IsG2Pixel(px, py);
        }
    return colours;
}

struct ChannelSums {
    int64_t red = 0;
    int64_t blue = 0;
    int64_t g1 = 0;
    int64_t g2 = 0;
};

ChannelSums SumChannels(const PhaseColours& colours, const RowTable& rows)
{
    ChannelSums sums;
    for (int32_t r = 0; r < rows.Height(); ++r) {
        const uint16_t* row = rows.Row(r);
        const int32_t py = r & 1;
        for (int32_t c = 0; c < rows.Width(); ++c) {
            const int32_t px = c & 1;
            if (colours.red[py][px])
                sums.red += row[c];
            else if (colours.blue[py][px])
                sums.blue += row[c];
            else if (colours.g1[py][px])
                sums.g1 += row[c];
            else if (colours.g2[py][px])
                sums.g2 += row[c];
        }
    }
    return sums;
}

// G1 sum over G2 sum into index 4. Without any G2 light the message is shown, the index keeps its
// value and false is returned.
bool CalcG2Ratio(VrelNegative& negative, const PhaseColours& colours, const RowTable& rows)
{
    const ChannelSums sums = SumChannels(colours, rows);
    if (sums.g2 > 0) {
        negative.fCorrectionRatios[kG1OverG2] = double(sums.g1) / double(sums.g2);
        return true;
    }
    ShowRatioError(negative, "Error in ratio calculation: G2 == 0");
    return false;
}

// Red and blue against G1 into indexes 0 to 3. A colour (or G1) without light shows its message
// and leaves that colour's ratios as they were; the two colours are independent.
void CalcChannelRatios(VrelNegative& negative, const PhaseColours& colours, const RowTable& rows)
{
    const ChannelSums sums = SumChannels(colours, rows);
    auto& ratios = negative.fCorrectionRatios;
    if (sums.red > 0 && sums.g1 > 0) {
        ratios[kRedOverG1] = double(sums.red) / double(sums.g1);
        ratios[kRedFactor] = double(sums.g1) / double(sums.red);
    } else {
        ShowRatioError(negative, "Error in ratio calculation: red == 0");
    }
    if (sums.blue > 0 && sums.g1 > 0) {
        ratios[kBlueOverG1] = double(sums.blue) / double(sums.g1);
        ratios[kBlueFactor] = double(sums.g1) / double(sums.blue);
    } else {
        ShowRatioError(negative, "Error in ratio calculation: blue == 0");
    }
}

// A scaled photosite, truncated; bright sites scaled beyond the 16-bit range stay at 65535
// instead of wrapping round to a dark value.
uint16_t Scaled(uint16_t value, double factor)
{
    const double x = double(value) * factor;
    if (x >= 65535.0)
        return 65535;
    return static_cast<uint16_t>(x);
}

// Steps the bar and lets the message loop run once every 11 rows.
class RowPacer {
public:
    RowPacer(ProgressReporter* progress, EngineUi* ui) : fProgress(progress), fUi(ui) {}
    void BeforeRow()
    {
        if (fCounter > 10) {
            if (fProgress)
                fProgress->Step(1);
            if (fUi)
                fUi->ProcessMessages();
            fCounter = 0;
        }
    }
    void AfterRow() { ++fCounter; }

private:
    ProgressReporter* fProgress;
    EngineUi* fUi;
    int32_t fCounter = 0;
};

} // namespace

// Leaves the corrected photosites in the stage-1 image and a copy of them in fMonoImage, also
// when a ratio could not be estimated (that step is then skipped, as its message said). Returns
// false when the automatic G1/G2 search failed (no G2 light: every value would fail alike, so the
// message is shown once and the search stops; the photosites are left without G1/G2 correction)
// and when the user cancelled while the result was written back (fMonoImage then stays released).
// A search in which no value brings G1 above G2 is no failure: the result for the last value
// stands and the edit keeps its text.
bool VrelNegative::CorrectG1G2(bool correctG1G2, bool correctRB, bool automatic, int32_t manualValue,
                               ProgressReporter* progress)
{
    if (fUi)
        fUi->ProcessMessages();
    fMonoImage.reset();

    if (!fStage1Image)
        throw dng::Error(dng::kErrorUnknown, "CorrectG1G2: there is no stage-1 image");
    dng::Image& stage1 = *fStage1Image;
    const dng::View16 out = stage1.View16Of(0);
    const int32_t w = out.width;
    const int32_t h = out.height;

    RowTable rows(w, h);
    CopyBufferToRows(rows, stage1);
    const PhaseColours colours = ColoursOf(*this);
    bool searchFailed = false;

    if (correctG1G2 && automatic) {
        SetStatus(progress, "Correcting G1G2 [auto setting, please wait]...");
        for (int32_t v = kAutoFirstValue; v <= kAutoLastValue; v += kAutoValueStep) {
            // Every try starts from the photosites as read, so the table holds one value's result.
            if (v != kAutoFirstValue)
                CopyBufferToRows(rows, stage1);
            EqualizeG2Pixels(rows, stage1, v, false);
            if (!CalcG2Ratio(*this, colours, rows)) {
                // Without G2 light the equaliser changes nothing at any value.
                searchFailed = true;
                break;
            }
            if (fCorrectionRatios[kG1OverG2] > 1.0) {
                ShowFoundValue(fUi, v);
                break;
            }
        }
    } else if (correctG1G2) {
        ResetBar(progress, h - 4);
        SetStatus(progress, "Correcting G1G2...");
        EqualizeG2Pixels(rows, stage1, manualValue, false);
    }

    fCorrectionRatios[kBlueFactor] = 1.0;
    fCorrectionRatios[kRedFactor] = 1.0;

    if (correctRB) {
        SetStatus(progress, "Correcting RB...");
        CalcChannelRatios(*this, colours, rows);
        const double redFactor = fCorrectionRatios[kRedFactor];
        const double blueFactor = fCorrectionRatios[kBlueFactor];
        // The outermost rows and columns are not scaled.
        for (int32_t r = 1; r <= h - 2; ++r) {
            if (progress)
                progress->Step(1);
            if (fUi)
                fUi->ProcessMessages();
            uint16_t* row = rows.Row(r);
            const int32_t py = r & 1;
            for (int32_t c = 1; c <= w - 2; ++c) {
                const int32_t px = c & 1;
                if (colours.red[py][px])
                    row[c] = Scaled(row[c], redFactor);
                else if (colours.blue[py][px])
                    row[c] = Scaled(row[c], blueFactor);
            }
        }
    }

    // The bar runs through the rows once more before the values are written; nothing changes here.
    SetStatus(progress, "Writing values...");
    ResetBar(progress, h / 10);
    {
        RowPacer pacer(progress, fUi);
        for (int32_t r = 1; r <= h - 2; ++r) {
            pacer.BeforeRow();
            pacer.AfterRow();
        }
    }

    SetStatus(progress, "Processing result...");
    ResetBar(progress, h / 10);
    RowPacer pacer(progress, fUi);
    for (int32_t r = 0; r < h; ++r) {
        pacer.BeforeRow();
        if (fCancelRequested)
            return false;
        std::copy(rows.Row(r), rows.Row(r) + w, out.Row(r));
        pacer.AfterRow();
    }

    fMonoImage = stage1.Clone();
    return !searchFailed;
}

} // namespace engine
