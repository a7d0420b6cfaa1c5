// Observation settings: the note and the optics in the units chosen.
#include "common/format.h"
#include "console/console.h"
#include "observation/observation.h"

namespace kyr {

namespace {

std::string unitsWord(bool metric) { return metric ? " centimeters" : " inches"; }

}  // namespace

void Console::enterNote() {
    const std::string answer = ui_.prompt("Input note (if desired)", "Note",
                                          "Enter configuration and observer info here!");
    if (answer.empty()) return;
    header.noteText = answer;
    showStatus(answer);
}

void Console::enterFocalLength() {
    const bool metric = header.unitsMetric;
    const std::string answer =
        ui_.prompt(metric ? "Input focal length in centimeters" : "Input focal length in inches",
                   "Focal Length", generalFloatText(header.focalLength));
    if (answer.empty()) return;
    header.focalLength = readLeadingNumber(answer);
    showStatus("Focal length = " + generalFloatText(header.focalLength) + unitsWord(metric));
}

void Console::enterApertureDiameter() {
    const bool metric = header.unitsMetric;
    const std::string answer = ui_.prompt(metric ? "Input aperture diameter in  centimeters"
                                                 : "Input aperture diameter in inches",
                                          "Aperture Diameter",
                                          generalFloatText(header.apertureDiameter));
    if (!answer.empty()) {
        header.apertureDiameter = readLeadingNumber(answer);
        showStatus("Aperture diameter = " + generalFloatText(header.apertureDiameter) +
                   unitsWord(metric));
    }
    // Recomputed in any case, also from an unchanged diameter.
    header.apertureArea = apertureAreaFor(header.apertureDiameter, header.apertureFactorFlag);
}

void Console::useInches() {
    if (!header.unitsMetric) return;
    header.focalLength = centimetersToInches(header.focalLength);
    header.apertureDiameter = centimetersToInches(header.apertureDiameter);
    header.apertureArea = squareCentimetersToSquareInches(header.apertureArea);
    header.unitsMetric = false;
}

void Console::useCentimeters() {
    if (header.unitsMetric) return;
    header.focalLength = inchesToCentimeters(header.focalLength);
    header.apertureDiameter = inchesToCentimeters(header.apertureDiameter);
    header.apertureArea = squareInchesToSquareCentimeters(header.apertureArea);
    header.unitsMetric = true;
}

}  // namespace kyr
