// The observer's note, optics prompts, units and the area formula.
#include <cfloat>
#include <cmath>

#include "console/console_fixture.h"
#include "observation/observation.h"

namespace kyr::test {
namespace {

TEST(Observation, LeadingNumberOfAnAnswer) {
    EXPECT_EQ(readLeadingNumber("8 inch"), 8.0f);
    EXPECT_EQ(readLeadingNumber("  -1.5e2mm"), -150.0f);
    EXPECT_EQ(readLeadingNumber("1 2 3"), 123.0f);  // blanks inside are skipped
    EXPECT_EQ(readLeadingNumber("- .5"), -0.5f);
    EXPECT_EQ(readLeadingNumber("8east"), 8.0f);  // no digits after "e": not an exponent
    EXPECT_EQ(readLeadingNumber("-.x"), 0.0f);
    // Beyond the float range: saturated, never infinite.
    EXPECT_EQ(readLeadingNumber("1e39"), FLT_MAX);
    EXPECT_EQ(readLeadingNumber("-1e99999"), -FLT_MAX);
    EXPECT_EQ(readLeadingNumber(std::string(500, '9')), FLT_MAX);
}

TEST(Observation, AreaAndConversionsStayFinite) {
    EXPECT_NEAR(apertureAreaFor(8, false), 49.2601f, 1e-3);
    EXPECT_NEAR(apertureAreaFor(20, false), 307.876f, 1e-3);
    EXPECT_NEAR(apertureAreaFor(20, true), 20 * 20 * 3.141592 / 4 * 0.72236448, 1e-3);
    EXPECT_EQ(apertureAreaFor(FLT_MAX, false), FLT_MAX);
    EXPECT_EQ(apertureAreaFor(NAN, false), 0.0f);
    EXPECT_EQ(squareInchesToSquareCentimeters(-FLT_MAX), -FLT_MAX);
    EXPECT_EQ(inchesToCentimeters(INFINITY), FLT_MAX);
    EXPECT_EQ(centimetersToInches(NAN), 0.0f);
}

TEST_F(ConsoleTest, OpticsPromptsDefaultsAndStatusTexts) {
    con.start();
    ui.promptAnswers = {"2000"};
    con.enterFocalLength();
    ASSERT_EQ(ui.prompts.size(), 1u);
    EXPECT_EQ(ui.prompts[0].text, "Input focal length in inches");
    EXPECT_EQ(ui.prompts[0].title, "Focal Length");
    EXPECT_EQ(ui.prompts[0].defaultAnswer, "0");
    EXPECT_EQ(ui.status, "Focal length = 2000 inches");

    ui.promptAnswers = {"8 inch"};
    con.enterApertureDiameter();
    EXPECT_EQ(ui.prompts[1].text, "Input aperture diameter in inches");
    EXPECT_EQ(ui.prompts[1].title, "Aperture Diameter");
    EXPECT_EQ(ui.status, "Aperture diameter = 8 inches");
    EXPECT_NEAR(con.header.apertureArea, 49.2601f, 1e-3);

    con.useCentimeters();
    ui.promptAnswers = {"20"};
    con.enterApertureDiameter();
    EXPECT_EQ(ui.prompts[2].text, "Input aperture diameter in  centimeters");
    EXPECT_EQ(ui.prompts[2].defaultAnswer, "20.32");
    EXPECT_EQ(ui.status, "Aperture diameter = 20 centimeters");
    EXPECT_NEAR(con.header.apertureArea, 307.876f, 1e-3);

    ui.promptAnswers = {"junk"};
    con.enterFocalLength();
    EXPECT_EQ(ui.prompts[3].text, "Input focal length in centimeters");
    EXPECT_EQ(ui.prompts[3].defaultAnswer, "5080");
    EXPECT_EQ(ui.status, "Focal length = 0 centimeters");

    // Cancel changes nothing and shows nothing, but the area is recomputed all the same.
    ui.status.clear();
    con.header.apertureFactorFlag = true;
    con.enterFocalLength();
    con.enterApertureDiameter();
    EXPECT_EQ(ui.status, "");
    EXPECT_EQ(con.header.apertureDiameter, 20.0f);
    EXPECT_NEAR(con.header.apertureArea, 20 * 20 * 3.141592 / 4 * 0.72236448, 1e-3);
}

TEST_F(ConsoleTest, NotePromptAlwaysOffersTheSameText) {
    con.start();
    ui.promptAnswers = {"M51, 10 inch SCT"};
    con.enterNote();
    EXPECT_EQ(con.header.noteText, "M51, 10 inch SCT");
    EXPECT_EQ(ui.status, "M51, 10 inch SCT");
    ui.promptAnswers = {"Enter configuration and observer info here!"};
    con.enterNote();
    for (const auto& p : ui.prompts) {
        EXPECT_EQ(p.text, "Input note (if desired)");
        EXPECT_EQ(p.title, "Note");
        EXPECT_EQ(p.defaultAnswer, "Enter configuration and observer info here!");
    }
    EXPECT_EQ(con.header.noteText, "Enter configuration and observer info here!");
}

TEST_F(ConsoleTest, UnitSwitchConvertsOnceEachWay) {
    con.start();
    con.header.focalLength = 100;
    con.header.apertureDiameter = 8;
    con.header.apertureArea = 49.26f;
    con.useInches();  // already inches
    EXPECT_EQ(con.header.focalLength, 100.0f);
    con.useCentimeters();
    con.useCentimeters();
    EXPECT_TRUE(con.header.unitsMetric);
    EXPECT_FLOAT_EQ(con.header.focalLength, 254.0f);
    EXPECT_FLOAT_EQ(con.header.apertureDiameter, 20.32f);
    EXPECT_FLOAT_EQ(con.header.apertureArea, 49.26f * 6.4516f);
    con.useInches();
    con.useInches();
    EXPECT_FALSE(con.header.unitsMetric);
    EXPECT_FLOAT_EQ(con.header.focalLength, 100.0f);
    EXPECT_FLOAT_EQ(con.header.apertureDiameter, 8.0f);
    EXPECT_FLOAT_EQ(con.header.apertureArea, 49.26f);
}

}  // namespace
}  // namespace kyr::test
