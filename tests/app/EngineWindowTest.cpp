// The upload engine in the real main window, offscreen, against the device simulator: runs one
// after another in one program run, the cancel button, the manual open dialog, closing during a
// run, and steps that never overlap.

#include "app/FrmLoadr.h"
#include "app/Gauge.h"
#include "app/LoaderApplication.h"
#include "dialogs/FrmAboutLdr.h"
#include "dialogs/FrmSupportBox.h"
#include "lights/ApdSLController.h"
#include "lights/ApdStatusLight.h"
#include "link/FrmS_comm.h"
#include "platform/FileDate.h"
#include "terminal/ApdTerminal.h"
#include "terminal/FrmTerminal.h"
#include "terminal/Terminal.h"
#include "tests/app/RunFolder.h"
#include "tests/support/ScriptedBoxes.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace
{

using loader::TFrmLoadr;
using platform::MsgButtons;
using platform::MsgResult;
using platform::MsgType;
using runtest::RunFolder;

// Spins the event loop until `done` holds or a generous limit passes (a hang, not a timing test).
bool SpinUntil(const std::function<bool()> &done, int limitMs = 60000)
{
    QEventLoop loop;
    QTimer poll;
    int waited = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        waited += 5;
        if (done() || waited > limitMs)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    return done();
}

class EngineWindowTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        run.dir.Enter();
        window = std::make_unique<TFrmLoadr>();
        loader::CreateStartupWindows(*window);
        window->show();
        ASSERT_TRUE(loader::FrmS_comm && loader::FrmS_comm->SCommOpen());
    }
    void TearDown() override { window.reset(); }

    bool RunToEnd()
    {
        window->BtnUpload->click();
        return SpinUntil([this] { return !window->Running(); });
    }

    void ExpectIdle(const QColor &lamp)
    {
        EXPECT_FALSE(window->Running());
        EXPECT_FALSE(window->GrpBxProgress->isVisible());
        EXPECT_TRUE(window->BtnUpload->isEnabled());
        EXPECT_FALSE(window->BtnULCancel->isEnabled());
        EXPECT_FALSE(window->Engine->ScriptTimer->isActive());
        EXPECT_EQ(window->LblUpload->text().toStdString(), "Upload Progress");
        EXPECT_EQ(window->GgeUpload->Progress(), 0);
        EXPECT_EQ(window->ComLamp(), lamp);
    }

    RunFolder run;
    testsupport::ScriptedBoxes boxes;
    std::unique_ptr<TFrmLoadr> window;
};

TEST_F(EngineWindowTest, SecondRunRewritesTheLogWithItsOwnFilesOnly)
{
    run.Write("a.bin", std::string(700, 'a'));
    run.Write("b.bin", "bb");
    run.Write("loader.sld", "_LF a.bin\n_LA 1\n_LV x\n_LD\n_LF b.bin\n_LD\n");
    ASSERT_TRUE(RunToEnd());
    ExpectIdle(loader::LampGreen());
    EXPECT_EQ(window->GgeScript->Progress(), 100);

    run.Write("loader.sld", "_LA 2\n_LD\n");
    const std::string bDate = platform::FileDateText(run.dir.File("b.bin"), "?");
    ASSERT_TRUE(RunToEnd());
    ExpectIdle(loader::LampGreen());

    EXPECT_TRUE(boxes.Shown().empty());
    const auto uploads = run.Uploads(3);
    ASSERT_EQ(uploads.size(), 3u);
    // The second run inherits the file name and version of the first.
    EXPECT_EQ(uploads[2].header, "LF 2 2 00C4 x");
    EXPECT_EQ(uploads[2].end, "complete");
    EXPECT_EQ(run.MaskedLog(),
              runtest::LogLines({"Tavrin Research, Inc. Flash File Loader, Version 1.04", "<time>",
                                 "", "File Name: b.bin", "  File Size: 2", "  File Checksum: 00C4",
                                 "  File Version: x; " + bDate, "  Load Address: 2", ""}));
}

TEST_F(EngineWindowTest, TerminalIsHeldOffTheLineFromEachHeaderToItsVerification)
{
    run.Write("c.bin", "abc");
    run.Write("loader.sld", "_LF c.bin\n_LD\n_LF missing.bin\n_LD\n");
    std::vector<std::string> events;
    window->SetTerminalActive = [&](bool active) {
        events.push_back(std::string(active ? "on" : "off") + " at line " +
                         std::to_string(window->Engine->LineIndex));
    };
    for (bool terminal : {false, true}) {
        SCOPED_TRACE(terminal);
        events.clear();
        window->TerminalCreated = terminal;
        boxes.Answer(MsgResult::Ignore); // the missing file: verified without a transfer
        ASSERT_TRUE(RunToEnd());
        const std::vector<std::string> expected = {"off at line 2", "on at line 2", "on at line 4"};
        EXPECT_EQ(events, terminal ? expected : std::vector<std::string>{});
    }
}

TEST_F(EngineWindowTest, CancelButtonDuringADelayEndsTheRunOnTheNextTick)
{
    run.Write("loader.sld", "_LF late.bin\n_DY 6000\n_SC \"never^M\"\n");
    window->BtnUpload->click();
    ASSERT_TRUE(SpinUntil(
        [this] { return window->Engine->ScriptState == loader::TUploadEngine::Delaying; }));

    boxes.Answer(MsgResult::Yes);
    window->BtnULCancel->click();
    ASSERT_TRUE(SpinUntil([this] { return !window->Running(); }));

    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[0].type, MsgType::Warning);
    EXPECT_EQ(boxes.Shown()[0].text, "Cancel current upload?");
    EXPECT_EQ(boxes.Shown()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(boxes.Shown()[1].text,
              "Upload error encountered, script aborted! Reset remote system.\rFile: late.bin");
    EXPECT_EQ(window->Engine->LineIndex, 2);
    ExpectIdle(loader::LampRed());
}

// Every wait of a step runs the event loop: a second into it the window still shows the wait's
// stage, and Cancel ends the run there, long before the wait would have ended.
TEST_F(EngineWindowTest, CancelWorksInsideEveryWaitOfAStep)
{
    struct Case {
        const char *name;
        int32_t uploadDelayMs;
        const char *script;
        const char *captionOfTheWait; // shown while the wait runs
        int32_t lineOfTheWait;        // the engine's line index meanwhile
    };
    const Case cases[] = {
        {"handshake", 0, "_TC \"QUIET^M\"\n_LF a.bin\n_LD\n", "Upload Progress", 0},
        {"post delay", 0, "_LP 30\n_LF a.bin\n_LD\n", "Verifying Upload", 3},
        // Last: the device is left waiting for a body that never comes.
        {"upload delay", 30000, "_LF a.bin\n_LD\n", "a.bin", 2},
    };
    run.Write("a.bin", std::string(100, 'a'));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        boxes.Clear();
        run.Write("loader.sld", c.script);
        window->Engine->UploadDelayMs = c.uploadDelayMs;
        std::string captionAtCancel;
        int32_t lineAtCancel = -1;
        QTimer cancel;
        cancel.setSingleShot(true);
        QObject::connect(&cancel, &QTimer::timeout, [&] {
            captionAtCancel = window->LblUpload->text().toStdString();
            lineAtCancel = window->Engine->LineIndex;
            boxes.Answer(MsgResult::Yes);
            window->BtnULCancel->click();
        });
        window->Engine->OnUploadCaption = [&](const std::string &caption) {
            if (caption == c.captionOfTheWait)
                cancel.start(1000);
        };
        window->BtnUpload->click();
        if (std::string(c.captionOfTheWait) == "Upload Progress")
            cancel.start(1000);
        ASSERT_TRUE(SpinUntil([this] { return !window->Running(); }, 20000));
        window->Engine->OnUploadCaption = nullptr;

        EXPECT_EQ(captionAtCancel, c.captionOfTheWait);
        EXPECT_EQ(lineAtCancel, c.lineOfTheWait);
        ASSERT_EQ(boxes.Shown().size(), 2u);
        EXPECT_EQ(boxes.Shown()[0].text, "Cancel current upload?");
        EXPECT_EQ(boxes.Shown()[1].text.rfind("Upload error encountered, script aborted!", 0), 0u);
    }
}

TEST_F(EngineWindowTest, CancelAnsweredNoLetsTheRunGoOn)
{
    run.Write("loader.sld", "_DY 20\n_DM \"done\"\n");
    window->BtnUpload->click();
    ASSERT_TRUE(SpinUntil(
        [this] { return window->Engine->ScriptState == loader::TUploadEngine::Delaying; }));

    boxes.Answer(MsgResult::No);
    window->BtnULCancel->click();
    ASSERT_TRUE(SpinUntil([this] { return !window->Running(); }));

    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[1].text, "done");
    ExpectIdle(loader::LampGreen());
}

TEST_F(EngineWindowTest, TicksDuringAStepThatHandlesEventsAreNotTaken)
{
    run.Write("loader.sld", "_DM \"first\"\n_DM \"second\"\nignored\n");
    std::vector<int> lineDuringBox;
    int boxesShown = 0;
    const auto previous = platform::SetMessageResponder([&](const platform::MessageRequest &) {
        ++boxesShown;
        // The box lets the GUI run: ticks fall meanwhile, but must wait for the step.
        window->Engine->ScriptTimer->start();
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
        lineDuringBox.push_back(window->Engine->LineIndex);
        return MsgResult::Ok;
    });

    const bool ended = RunToEnd();
    platform::SetMessageResponder(previous);

    ASSERT_TRUE(ended);
    EXPECT_EQ(boxesShown, 2);
    EXPECT_EQ(lineDuringBox, (std::vector<int>{0, 1}));
    EXPECT_EQ(window->Engine->LineIndex, 3);
}

TEST_F(EngineWindowTest, DeviceErrorReportsAfterTheRunAreDropped)
{
    run.Write("loader.sld", "");
    ASSERT_TRUE(RunToEnd());

    window->SetScriptError();
    window->SetULError();
    SpinUntil([] { return false; }, 100);

    EXPECT_TRUE(boxes.Shown().empty());
    ExpectIdle(loader::LampGreen());
}

TEST_F(EngineWindowTest, ManualModeRunsThePickedScriptOrNothingWhenCancelled)
{
    run.Write("picked.sld", "_DM \"picked\"\n");
    window->MnuItmManualUlClick();
    window->OpnDlgULFile->setDirectory(QString::fromStdString(run.dir.Path()));
    for (bool pick : {false, true}) {
        SCOPED_TRACE(pick);
        // The name is typed before the dialog is up: once it shows, its name field has the focus
        // and a selection no longer reaches it.
        if (pick)
            window->OpnDlgULFile->selectFile(QStringLiteral("picked.sld"));
        // Answers the dialog as soon as it is up.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            if (pick) {
                static_cast<QDialog *>(dialog)->accept();
            } else {
                dialog->reject();
            }
        });
        answer.start(5);
        window->BtnUpload->click();
        ASSERT_TRUE(SpinUntil([this] { return !window->Running(); }));
        EXPECT_TRUE(window->BtnUpload->isEnabled());
    }
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "picked");
    EXPECT_EQ(window->Engine->ScriptFileName, run.dir.File("picked.sld"));
}

TEST_F(EngineWindowTest, ClosingDuringARunStopsTheEngineAndClosesPortAndLog)
{
    run.Write("b.bin", "bb");
    run.Write("loader.sld", "_LF b.bin\n_LA 2\n_LV x\n_LD\n_DY 6000\n_DM \"never\"\n");
    window->BtnUpload->click();
    ASSERT_TRUE(SpinUntil(
        [this] { return window->Engine->ScriptState == loader::TUploadEngine::Delaying; }));

    window->close();
    const int ticksLeft = window->Engine->DelayTicks;
    SpinUntil([] { return false; }, 100);

    EXPECT_EQ(window->Engine->DelayTicks, ticksLeft);
    EXPECT_FALSE(window->Engine->ScriptTimer->isActive());
    EXPECT_FALSE(loader::FrmS_comm->SCommOpen());
    EXPECT_FALSE(loader::FrmS_comm->Link.UploadMode);
    EXPECT_FALSE(window->Engine->LogOpen);
    EXPECT_TRUE(boxes.Shown().empty());
    // What the run had logged before the close is all there.
    EXPECT_EQ(run.MaskedLog(),
              runtest::LogLines(
                  {"Tavrin Research, Inc. Flash File Loader, Version 1.04", "<time>", "",
                   "File Name: b.bin", "  File Size: 2", "  File Checksum: 00C4",
                   "  File Version: x; " + platform::FileDateText(run.dir.File("b.bin"), "?"),
                   "  Load Address: 2", ""}));
}

// The diagnostic switch: the dispatch log and the trace reach COM.LOG and COM.TRC when it is
// switched off, or when the window closes with it on; otherwise neither file is written.
TEST_F(EngineWindowTest, LoggingSwitchWritesLogAndTraceOnlyWhenItEndsThem)
{
    namespace fs = std::filesystem;
    struct Case {
        const char *name;
        int clicks;
        bool writtenBeforeClose;
        bool writtenAtClose;
    } cases[] = {
        {"never switched on", 0, false, false},
        {"on when the window closes", 1, false, true},
        {"switched off before closing", 2, true, false},
    };
    const std::string files[] = {run.dir.File("COM.LOG"), run.dir.File("COM.TRC")};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        window.reset();
        run.WriteIni("Logging=1", run.Link());
        window = std::make_unique<TFrmLoadr>();
        loader::CreateStartupWindows(*window);
        ASSERT_TRUE(loader::FrmS_comm->SCommOpen());
        serial::TApdComPort &port = *loader::FrmS_comm->ApdComPort1;
        for (int i = 0; i < c.clicks; ++i) {
            window->MnuItmLogging->trigger();
            // Something to record: an empty trace or log writes no file.
            port.SendText("\r");
            ASSERT_TRUE(SpinUntil([&] { return port.OutputCount() == 0; }));
        }
        for (const std::string &file : files) {
            EXPECT_EQ(fs::exists(file), c.writtenBeforeClose) << file;
            fs::remove(file);
        }
        window->close();
        for (const std::string &file : files) {
            EXPECT_EQ(fs::exists(file), c.writtenAtClose) << file;
            fs::remove(file);
        }
    }
    EXPECT_TRUE(boxes.Shown().empty());
}

// The about and support boxes are made hidden at start, after the settings object, and the Help
// menu shows each of them modally.
TEST_F(EngineWindowTest, HelpMenuShowsTheBoxesMadeAtStartModally)
{
    QList<QDialog *> madeAtStart;
    for (QDialog *dialog : window->findChildren<QDialog *>(Qt::FindDirectChildrenOnly))
        if (dialog != window->OpnDlgULFile)
            madeAtStart.append(dialog);
    const QList<QDialog *> startOrder{loader::FrmS_comm, loader::FrmAboutLdr.data(),
                                      loader::FrmSupportBox.data()};
    EXPECT_EQ(madeAtStart, startOrder);

    struct Case {
        QAction *item;
        QDialog *box;
        const char *caption;
    } cases[] = {
        {window->MnuItmAbout, loader::FrmAboutLdr, "About"},
        {window->MnuItmSupport, loader::FrmSupportBox, "Techical Support"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.caption);
        EXPECT_FALSE(c.box->isVisible());
        QWidget *shown = nullptr;
        QTimer::singleShot(0, [&] {
            shown = QApplication::activeModalWidget();
            if (shown)
                shown->close();
        });
        c.item->trigger();
        EXPECT_EQ(shown, c.box);
        EXPECT_EQ(c.box->windowTitle().toStdString(), c.caption);
        EXPECT_FALSE(c.box->isVisible());
    }
}

// The Status Lights item shows the lamp panel below the controls (the window grows by it) and
// starts the controller on the open port; again, it hides the panel and stops the controller, as
// does closing the window.
TEST_F(EngineWindowTest, StatusLightsItemShowsThePanelAndWatchesThePort)
{
    const int plainHeight = window->height();
    EXPECT_EQ(window->ApdSLController2->ComPort(), loader::FrmS_comm->ApdComPort1.get());
    for (const bool on : {true, false, true}) {
        SCOPED_TRACE(on ? "on" : "off");
        window->MnuItmStatusLght->trigger();
        QCoreApplication::processEvents();
        EXPECT_EQ(window->MnuItmStatusLght->isChecked(), on);
        EXPECT_EQ(window->PnlLights->isVisible(), on);
        EXPECT_EQ(window->ApdSLController2->Watching(), on);
        EXPECT_EQ(window->height(), plainHeight + (on ? 32 : 0));
    }
    // A pseudo terminal has no modem lines: the lamps stay dark, without any box.
    for (auto *lamp : {window->SLCts, window->SLDsr, window->SLDcd, window->SLDer})
        EXPECT_FALSE(lamp->Lit());
    window->close();
    EXPECT_FALSE(window->ApdSLController2->Watching());
    EXPECT_TRUE(boxes.Shown().empty());
}

} // namespace

namespace
{

// Types text into a widget as key presses, one character each.
void Type(QWidget *widget, const std::string &text)
{
    for (const char c : text) {
        QKeyEvent press(QEvent::KeyPress,
                        c == '\r' ? int(Qt::Key_Return) : int(QChar(c).toUpper().unicode()),
                        Qt::NoModifier, QString(QChar(c)));
        QApplication::sendEvent(widget, &press);
    }
}

// The screen's rows up to the cursor's, trailing blanks dropped.
std::vector<std::string> ScreenLines(terminal::TTerminal &screen)
{
    std::vector<std::string> lines;
    const terminal::TBuffer &b = screen.aBuffer();
    for (int row = 0; row <= b.CursorRow; ++row) {
        std::string text = b.RowText(row);
        text.erase(text.find_last_not_of(' ') + 1);
        lines.push_back(text);
    }
    return lines;
}

TEST_F(EngineWindowTest, TerminalWindowTalksToTheDeviceAndGivesTheLineBack)
{
    const auto &link = loader::FrmS_comm->Link;
    ASSERT_NE(link.PromptTrigger, 0);
    window->SpdBtnTerm->click();
    ASSERT_TRUE(loader::FrmTerminal && loader::FrmTerminal->isVisible());
    EXPECT_TRUE(window->TerminalCreated);
    // While the window is shown the loader's prompt and error handling is off.
    EXPECT_EQ(link.PromptTrigger, 0);
    EXPECT_EQ(link.ErrorTrigger, 0);

    terminal::TTerminal &screen = *loader::FrmTerminal->ApdTerminal1->Window();
    Type(&screen, "ECHO Hello, device 1\rBAD\r");
    const std::vector<std::string> expected = {"=Hello, device 1", ">ERR", ">"};
    EXPECT_TRUE(SpinUntil([&] { return ScreenLines(screen) == expected; }, 10000))
        << ScreenLines(screen).size();
    EXPECT_TRUE(boxes.Shown().empty());

    // Closed, the line is the loader's again; shown again, the terminal's.
    loader::FrmTerminal->close();
    EXPECT_NE(link.PromptTrigger, 0);
    EXPECT_NE(link.ErrorTrigger, 0);
    window->MnuItmTermWin->trigger();
    EXPECT_TRUE(loader::FrmTerminal->isVisible());
    EXPECT_EQ(link.PromptTrigger, 0);

    // An upload with the window shown: the device's replies from the header to the verification
    // go to the handshake, and the screen shows none of them.
    screen.tClearBuffer();
    run.Write("c.bin", std::string(3000, 'c'));
    run.Write("loader.sld", "_LF c.bin\n_LD\n");
    ASSERT_TRUE(RunToEnd());
    ExpectIdle(loader::LampGreen());
    const auto uploads = run.Uploads(1);
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].end, "complete");
    EXPECT_EQ(ScreenLines(screen), std::vector<std::string>{""});
    // So after the settings dialog, which reopens the port and with it the link's triggers.
    loader::FrmS_comm->DataTriggerEnabled(true);
    QTimer::singleShot(0, loader::FrmS_comm, [] { loader::FrmS_comm->reject(); });
    window->SpdBtnComSetClick();
    EXPECT_EQ(link.PromptTrigger, 0);
    // Afterwards the terminal is on the line again.
    EXPECT_EQ(link.PromptTrigger, 0);
    Type(&screen, "\r");
    EXPECT_TRUE(
        SpinUntil([&] { return ScreenLines(screen) == std::vector<std::string>{">"}; }, 10000))
        << ::testing::PrintToString(ScreenLines(screen));
}

TEST_F(EngineWindowTest, TerminalNeedsTheOpenPort)
{
    loader::FrmS_comm->ApdComPort1->SetOpen(false);
    boxes.Answer(MsgResult::Ok);
    window->SpdBtnTermClick();
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "Com port not available, can not open terminal.");
    EXPECT_FALSE(loader::FrmTerminal);
    EXPECT_FALSE(window->TerminalCreated);

    loader::FrmS_comm->ApdComPort1->SetOpen(true);
    window->SpdBtnTermClick();
    ASSERT_TRUE(loader::FrmTerminal);
    loader::FrmTerminal->close();
    // A run with the window closed leaves its terminal off the line.
    run.Write("c.bin", "abc");
    run.Write("loader.sld", "_LF c.bin\n_LD\n");
    ASSERT_TRUE(RunToEnd());
    ExpectIdle(loader::LampGreen());
    EXPECT_FALSE(loader::FrmTerminal->ApdTerminal1->Active());
    // Asked for again while the port is closed: a silent terminal is not shown, the box says why.
    loader::FrmS_comm->ApdComPort1->SetOpen(false);
    window->SpdBtnTermClick();
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[1].text, "Com port not available, can not open terminal.");
    EXPECT_FALSE(loader::FrmTerminal->isVisible());
    // Closed after its port (as when the program ends): quietly.
    loader::FrmS_comm->ApdComPort1->SetOpen(true);
    window->SpdBtnTermClick();
    EXPECT_TRUE(loader::FrmTerminal->isVisible());
    loader::FrmS_comm->ApdComPort1->SetOpen(false);
    loader::FrmTerminal->close();
    EXPECT_EQ(boxes.Shown().size(), 2u);
}

// Records what a widget showed each time it was painted.
class PaintRecorder : public QObject
{
  public:
    PaintRecorder(QWidget *widget, std::function<std::string()> shown)
        : widget_(widget), shown_(std::move(shown))
    {
        widget->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == widget_ && event->type() == QEvent::Paint)
            seen.push_back(shown_());
        return false;
    }
    bool Saw(const std::string &what) const
    {
        return std::find(seen.begin(), seen.end(), what) != seen.end();
    }
    std::vector<std::string> seen;

  private:
    QWidget *widget_;
    std::function<std::string()> shown_;
};

// The stages of the verification last exactly as long as the engine blocks the GUI thread; each
// is on the screen before the wait begins. A silent device fails both checks.
TEST(EngineWindowPaint, EveryVerificationStageIsPaintedBeforeItsWait)
{
    RunFolder run({"--silent"});
    run.dir.Enter();
    testsupport::ScriptedBoxes boxes;
    TFrmLoadr window;
    loader::CreateStartupWindows(window);
    window.show();
    PaintRecorder caption(window.LblUpload, [&] { return window.LblUpload->text().toStdString(); });
    PaintRecorder gauge(window.GgeUpload,
                        [&] { return std::to_string(window.GgeUpload->Progress()); });
    run.Write("c.bin", "abc");
    run.Write("loader.sld", "_LF c.bin\n_LD\n");
    window.BtnUpload->click();
    ASSERT_TRUE(SpinUntil([&] { return !window.Running(); }));
    EXPECT_TRUE(caption.Saw("Verifying Upload"));
    for (const char *stage : {"50", "70", "90"})
        EXPECT_TRUE(gauge.Saw(stage)) << stage << " in " << ::testing::PrintToString(gauge.seen);
}

} // namespace
