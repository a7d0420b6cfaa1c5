// The terminal Ui: what goes to standard output and standard error, quiet or not, on a
// terminal or into a file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/cli_ui.h"

namespace kyr::test {
namespace {

std::string contentOf(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
}

struct Streams {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ~Streams() {
        std::fclose(out);
        std::fclose(err);
    }
};

TEST(CliUiTest, StatusOnStandardErrorOnceEachProgressOnlyOnATerminal) {
    Streams s;
    cli::CliUi ui(s.out, s.err, false, false);
    ui.setStatusText("Link not established!");
    ui.setStatusText("Link Established");
    ui.setStatusText("Link Established");  // the same text again is not repeated
    ui.setStatusText("Background = 907\r\nRange = 11712");
    ui.setStatusText(" PageNumber = 3 of 192 being sent\r\n0 retries");
    ui.setStatusText("Logging Record Number 1");
    ui.setProgress(5, 200);
    ui.showMessage("Load file command failed");
    ui.error("Link Established");  // already shown as a status
    ui.setDisplayText("KYR  Mode: Image        \r\nExp 2.50 s");
    EXPECT_EQ(contentOf(s.out), "");  // display texts only when asked for
    EXPECT_EQ(contentOf(s.err),
              "Link not established!\nLink Established\nBackground = 907\nRange = 11712\n"
              "kyrctl: Load file command failed\n");
    EXPECT_EQ(ui.statusHistory().size(), 6u);
    EXPECT_EQ(ui.messages(), std::vector<std::string>{"Load file command failed"});
}

TEST(CliUiTest, QuietKeepsErrorsAndRequestedOutputOnly) {
    Streams s;
    cli::CliUi ui(s.out, s.err, true, true);
    ui.setPrintDisplay(true);
    ui.setStatusText("Link Established");
    ui.setProgress(1, 192);
    ui.note("3 files saved");
    ui.setDisplayText("Param: Exposure         \r\nValue: 2.60 s           ");
    ui.printOut("KYR Image\r\nEnd");
    ui.error("Communication Failed");
    EXPECT_EQ(contentOf(s.out),
              "Param: Exposure         \nValue: 2.60 s           \nKYR Image\nEnd");
    EXPECT_EQ(contentOf(s.err), "kyrctl: Communication Failed\n");
}

TEST(CliUiTest, OnATerminalProgressRedrawsOneLineThatTheNextLineClears) {
    Streams s;
    cli::CliUi ui(s.out, s.err, false, true);
    ui.setProgressLabel("pages");
    ui.setProgress(1, 192);
    ui.setProgress(2, 192);
    ui.setStatusText("Code succesfully uploaded - KYR restarting");
    EXPECT_EQ(contentOf(s.err),
              "\r\033[Kpages 1/192\r\033[Kpages 2/192\r\033[K"
              "Code succesfully uploaded - KYR restarting\n");
}

TEST(CliUiTest, DialogsPromptsAndTheContrastDialogAreAnsweredFromTheCommandLine) {
    Streams s;
    cli::CliUi ui(s.out, s.err, true, false);
    ui.queueFile("a.KYR");
    ui.queueFile("b.KYR");
    EXPECT_EQ(ui.runFileDialog({}), "a.KYR");
    EXPECT_EQ(ui.runFileDialog({}), "b.KYR");
    EXPECT_EQ(ui.runFileDialog({}), "");  // nothing more: cancelled
    EXPECT_EQ(ui.unansweredDialogs(), 1);

    ui.setPromptAnswer("Note", "M42");
    EXPECT_EQ(ui.prompt("Input note (if desired)", "Note", "default"), "M42");
    EXPECT_EQ(ui.prompt("Input focal length in inches", "Focal Length", "0"), "");

    std::string bg = " 100", range = " 512";
    ui.showContrastDialog(bg, range);
    EXPECT_EQ(bg, " 100");
    ui.setContrastAnswers(std::nullopt, "2048");
    ui.showContrastDialog(bg, range);
    EXPECT_EQ(bg, " 100");
    EXPECT_EQ(range, "2048");
}

}  // namespace
}  // namespace kyr::test
