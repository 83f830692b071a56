// The main window driven offscreen: start-up against loader.ini, its controls and menu, the two
// modes, the upload-method choice, exit and help.

#include "app/FrmLoadr.h"
#include "app/Gauge.h"
#include "platform/HelpViewer.h"
#include "platform/ProfileFile.h"
#include "tests/support/RecordedHelp.h"
#include "tests/support/ScriptedBoxes.h"
#include "tests/support/TempDir.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <sys/resource.h>
#include <vector>

namespace
{

using loader::TFrmLoadr;
using platform::AboutHelpContext;
using platform::MainWindowHelpContext;
using platform::MsgButtons;
using platform::MsgResult;
using platform::MsgType;
using platform::NoHelpContext;
using platform::RS232HelpContext;
using platform::TerminalHelpContext;
using testsupport::HelpRequest;
using HelpRequests = std::vector<HelpRequest>;
namespace fs = std::filesystem;

template <class T> T *Child(const QObject &parent, const char *name)
{
    auto *child = parent.findChild<T *>(QString::fromLatin1(name));
    if (!child)
        throw std::runtime_error(std::string("no child named ") + name);
    return child;
}

std::string Latin1(const QString &text)
{
    return text.toLatin1().toStdString();
}

class MainWindowTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir.Enter();
        startDir = fs::current_path().string();
    }

    std::unique_ptr<TFrmLoadr> Start() { return std::make_unique<TFrmLoadr>(); }

    void WriteUploadSettings(const std::string &lines)
    {
        dir.Write("loader.ini", "[Upload Settings]\n" + lines + "\n");
    }

    std::string IniValue(const std::string &section, const std::string &key)
    {
        return platform::TIniFile(startDir + "/loader.ini").ReadString(section, key, "<missing>");
    }

    testsupport::TempDir dir;
    std::string startDir;
    testsupport::ScriptedBoxes boxes;
    testsupport::RecordedHelp help;
};

TEST_F(MainWindowTest, StartInEmptyDirectoryTakesDefaultsAndWritesDriverVersion)
{
    auto window = Start();

    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(window->IniFileName, startDir + "/loader.ini");
    EXPECT_EQ(IniValue("Global", "Driver Version"), "1.04");
    // Only the driver version is written; the window's own keys stay out of the file.
    EXPECT_EQ(IniValue("Upload Settings", "Default Script"), "<missing>");
    EXPECT_EQ(window->Engine->ScriptFileName, "loader.sld");
    EXPECT_EQ(window->Engine->UploadDelayMs, 1000);
    EXPECT_EQ(window->Engine->PostDelayMs, 0);
    EXPECT_FALSE(window->Engine->LogOpen);
    EXPECT_FALSE(window->TerminalCreated);
    EXPECT_EQ(fs::current_path().string(), startDir);
    EXPECT_EQ(loader::FrmLoadr, window.get());
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 1000);

    window.reset();
    EXPECT_EQ(loader::FrmLoadr, nullptr);
}

TEST_F(MainWindowTest, DefaultPathMovesTheWorkingDirectoryButNotLoaderIni)
{
    fs::create_directory(dir.File("work"));
    const std::string work = startDir + "/work";
    for (const std::string &configured : {work, std::string("work"), "  " + work + "  "}) {
        SCOPED_TRACE(configured);
        fs::current_path(startDir);
        WriteUploadSettings("Default Script=boot.sld\nDelay=250\nDefault Path=" + configured);

        auto window = Start();

        EXPECT_TRUE(boxes.Shown().empty());
        EXPECT_EQ(fs::current_path().string(), work);
        EXPECT_EQ(window->IniFileName, startDir + "/loader.ini");
        EXPECT_EQ(window->Engine->ScriptFileName, "boot.sld");
        EXPECT_EQ(window->Engine->UploadDelayMs, 250);
        EXPECT_EQ(IniValue("Global", "Driver Version"), "1.04");
        EXPECT_EQ(IniValue("Upload Settings", "Delay"), "250");
        EXPECT_FALSE(fs::exists(work + "/loader.ini"));
    }
}

TEST_F(MainWindowTest, UnusableDefaultPathWarnsOnceAndStaysInTheStartDirectory)
{
    for (const std::string &configured : {dir.File("nowhere"), std::string("")}) {
        SCOPED_TRACE(configured);
        boxes.Clear();
        WriteUploadSettings("Default Path=" + configured);

        auto window = Start();

        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].type, MsgType::Error);
        EXPECT_EQ(boxes.Shown()[0].buttons, MsgButtons::Ok);
        EXPECT_EQ(boxes.Shown()[0].text,
                  "Could not set directory specified in the loader.ini file!\r"
                  "Edit the \"Default Path\" parameter to correct.\r"
                  "The current program directory will be used.");
        EXPECT_EQ(fs::current_path().string(), startDir);
        EXPECT_EQ(IniValue("Global", "Driver Version"), "1.04");
    }
}

// Reported once, and not written over: the defaults stand in for it.
TEST_F(MainWindowTest, UnreadableLoaderIniIsReportedAndTheWindowStaysUsable)
{
    fs::create_directory(dir.File("loader.ini"));

    auto window = Start();
    window->show();

    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].type, MsgType::Error);
    EXPECT_EQ(boxes.Shown()[0].caption, "Error");
    EXPECT_EQ(boxes.Shown()[0].text,
              "Settings file error - not a regular file!\rFile Name: " + startDir +
                  "/loader.ini\rThe defaults are used; the file is not changed.");
    EXPECT_EQ(window->IniRefusal, "not a regular file");
    EXPECT_EQ(window->Engine->ScriptFileName, "loader.sld");
    EXPECT_FALSE(window->Engine->LogOpen);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->BtnUpload->isEnabled());

    window->MnuItmManualUl->trigger();
    EXPECT_EQ(Latin1(window->BtnUpload->text()), "Select Upload Script");
}

// Makes writes past a few bytes fail, for every user (file permissions do not stop root).
class FileSizeLimit
{
  public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

  private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(MainWindowTest, DirectoryAndWriteFailuresAreBothReportedInStartOrder)
{
    WriteUploadSettings("Default Path=" + dir.File("nowhere") + "\nUpload Method=manual");

    std::unique_ptr<TFrmLoadr> window;
    {
        FileSizeLimit limit(8);
        window = Start();
    }

    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[0].text.rfind("Could not set directory", 0), 0u);
    EXPECT_EQ(boxes.Shown()[1].text, "Unable to write to " + startDir + "/loader.ini");
    // The steps between the two failures still ran.
    EXPECT_TRUE(window->MnuItmManualUl->isChecked());
}

TEST_F(MainWindowTest, UploadMethodSelectsManualOnlyForTheWholeWordManual)
{
    struct Case {
        const char *setting;
        bool manual;
    };
    const Case cases[] = {
        {"Upload Method=manual", true},
        {"Upload Method=MANUAL", true},
        {"Upload Method=  Manual  ", true},
        {"Upload Method=Manually", false},
        {"Upload Method=", false},
        {"Upload Method=AUTOMATIC", false},
        {"Delay=1000", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setting);
        WriteUploadSettings(c.setting);

        auto window = Start();

        EXPECT_EQ(Latin1(window->BtnUpload->text()),
                  c.manual ? "Select Upload Script" : "Start File Upload");
        EXPECT_EQ(window->MnuItmManualUl->isChecked(), c.manual);
        EXPECT_EQ(window->MnuItmAutoUl->isChecked(), !c.manual);
    }
}

TEST_F(MainWindowTest, LoggingItemIsEnabledOnlyByAValueAboveZero)
{
    struct Case {
        const char *setting;
        bool enabled;
    };
    const Case cases[] = {
        {"Logging=0", false},  {"Delay=5", false},  {"Logging=junk", false},
        {"Logging=0x1", true}, {"Logging=5", true}, {"Logging=-1", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setting);
        WriteUploadSettings(c.setting);

        auto window = Start();

        EXPECT_EQ(window->MnuItmLogging->isEnabled(), c.enabled);
        EXPECT_TRUE(window->MnuItmLogging->isCheckable());
        EXPECT_FALSE(window->MnuItmLogging->isChecked());
    }
}

TEST_F(MainWindowTest, ComponentsCarryTheirNamesKindsAndStartStates)
{
    auto window = Start();
    window->show();

    struct Part {
        const char *name;
        const char *kind;
    };
    const Part parts[] = {
        {"MainMenu", "QMenuBar"},
        {"PnlSpeedBar", "QFrame"},
        {"SpdBtnTerm", "QToolButton"},
        {"SpdBtnComSet", "QToolButton"},
        {"BtnUpload", "QPushButton"},
        {"PnlComLamp", "QFrame"},
        {"BtnULCancel", "QPushButton"},
        {"GrpBxProgress", "QGroupBox"},
        {"GgeScript", "loader::TGauge"},
        {"LblScript", "loader::TGaugeLabel"},
        {"GgeUpload", "loader::TGauge"},
        {"LblUpload", "loader::TGaugeLabel"},
        {"OpnDlgULFile", "QFileDialog"},
        {"ScriptTimer", "QTimer"},
        {"UploadMethodGroup", "QActionGroup"},
    };
    for (const Part &p : parts) {
        SCOPED_TRACE(p.name);
        EXPECT_STREQ(Child<QObject>(*window, p.name)->metaObject()->className(), p.kind);
    }

    EXPECT_EQ(Latin1(window->windowTitle()), "Tavrin Research, RS232 Flash File Loader");
    EXPECT_EQ(loader::HelpContextOf(window.get()), MainWindowHelpContext);
    EXPECT_EQ(Child<QWidget>(*window, "ClientArea")->size(), QSize(344, 166));
    EXPECT_EQ(window->PnlSpeedBar->height(), 33);
    EXPECT_EQ(window->BtnUpload->width(), 161);
    EXPECT_EQ(window->PnlComLamp->size(), QSize(33, 25));
    EXPECT_EQ(window->ComLamp(), QColor(255, 0, 0));
    EXPECT_EQ(Latin1(window->BtnUpload->text()), "Start File Upload");
    EXPECT_EQ(Latin1(window->BtnULCancel->text()), "Cancel Upload");
    EXPECT_FALSE(window->BtnULCancel->isEnabled());
    EXPECT_FALSE(window->BtnULCancel->icon().isNull());
    EXPECT_FALSE(window->GrpBxProgress->isVisible());
    EXPECT_EQ(Latin1(window->GrpBxProgress->title()), "Progress");
    EXPECT_EQ(window->Engine->ScriptTimer->interval(), 10);
    EXPECT_FALSE(window->Engine->ScriptTimer->isActive());

    struct Hint {
        QWidget *widget;
        const char *text;
    };
    for (const Hint &h : {Hint{window->SpdBtnTerm, "Terminal Window"},
                          Hint{window->SpdBtnComSet, "Communications Setup"},
                          Hint{window->PnlComLamp, "Communication / Upload Status"}}) {
        EXPECT_EQ(Latin1(h.widget->toolTip()), h.text);
        EXPECT_TRUE(h.widget->isEnabled());
    }
    EXPECT_FALSE(window->SpdBtnTerm->icon().isNull());
    EXPECT_FALSE(window->SpdBtnComSet->icon().isNull());

    struct GaugeLook {
        loader::TGauge *gauge;
        QLabel *label;
        const char *caption;
        QColor color;
    };
    for (const GaugeLook &g :
         {GaugeLook{window->GgeScript, window->LblScript, "Script Progress", QColor(0, 128, 128)},
          GaugeLook{window->GgeUpload, window->LblUpload, "Upload Progress", QColor(0, 0, 255)}}) {
        SCOPED_TRACE(g.caption);
        EXPECT_EQ(g.gauge->Progress(), 0);
        EXPECT_EQ(g.gauge->ForeColor(), g.color);
        EXPECT_EQ(g.gauge->BackColor(), QColor(255, 255, 255));
        EXPECT_EQ(Latin1(g.label->text()), g.caption);
        EXPECT_TRUE(g.label->font().bold());
        EXPECT_FALSE(g.label->autoFillBackground());
        // Over the gauge's left end, and drawn above it.
        EXPECT_TRUE(g.gauge->geometry().contains(g.label->geometry().topLeft()));
        EXPECT_LT(g.label->x() - g.gauge->x(), g.gauge->width() / 4);
        const auto siblings = window->GrpBxProgress->children();
        EXPECT_GT(siblings.indexOf(g.label), siblings.indexOf(g.gauge));
    }
}

TEST_F(MainWindowTest, MenuHoldsTheItemsInOrderWithCaptionsContextsAndStates)
{
    auto window = Start();

    struct Item {
        const char *name;
        const char *caption;
        int helpContext;
        bool checkable, checked, enabled;
    };
    struct Menu {
        const char *name;
        const char *title;
        std::vector<Item> items;
    };
    const Menu menus[] = {
        {"Program1",
         "&Program",
         {{"MnuItmTermWin", "&Terminal Window", TerminalHelpContext, false, false, true},
          {"MnuItmGang", "&Gang Upload...", MainWindowHelpContext, false, false, true},
          {"MnuItmExit", "E&xit", NoHelpContext, false, false, true}}},
        {"Configuration1",
         "&Configuration",
         {{"MnuItmStatusLght", "&Status Lights", MainWindowHelpContext, true, false, true},
          {"MnuItmRS232", "&RS232 Setup", RS232HelpContext, false, false, true},
          {"MnuItmManualUl", "&Manual Upload", MainWindowHelpContext, true, false, true},
          {"MnuItmAutoUl", "&Automatic Upload", MainWindowHelpContext, true, true, true},
          {"MnuItmLogging", "&Logging", NoHelpContext, true, false, false}}},
        {"Help1",
         "&Help",
         {{"HelpTopics1", "&Help Topics", NoHelpContext, false, false, true},
          {"MnuItmSupport", "&Support...", AboutHelpContext, false, false, true},
          {"MnuItmAbout", "&About...", AboutHelpContext, false, false, true}}},
    };

    const auto bar = window->MainMenu->actions();
    ASSERT_EQ(bar.size(), 3);
    for (int m = 0; m < 3; ++m) {
        const Menu &expected = menus[m];
        auto *menu = Child<QMenu>(*window, expected.name);
        EXPECT_EQ(bar[m], menu->menuAction());
        EXPECT_EQ(Latin1(menu->title()), expected.title);
        const auto actions = menu->actions();
        ASSERT_EQ(actions.size(), static_cast<qsizetype>(expected.items.size()));
        for (std::size_t i = 0; i < expected.items.size(); ++i) {
            const Item &item = expected.items[i];
            SCOPED_TRACE(item.name);
            QAction *action = actions[static_cast<qsizetype>(i)];
            EXPECT_EQ(action, Child<QAction>(*window, item.name));
            EXPECT_EQ(Latin1(action->text()), item.caption);
            EXPECT_EQ(loader::HelpContextOf(action), item.helpContext);
            EXPECT_EQ(action->isCheckable(), item.checkable);
            EXPECT_EQ(action->isChecked(), item.checked);
            EXPECT_EQ(action->isEnabled(), item.enabled);
        }
    }
    EXPECT_EQ(window->MnuItmManualUl->actionGroup(), window->MnuItmAutoUl->actionGroup());
    EXPECT_TRUE(window->MnuItmManualUl->actionGroup()->isExclusive());
    EXPECT_EQ(window->MnuItmLogging->actionGroup(), nullptr);
}

TEST_F(MainWindowTest, UploadMethodMenuSwitchesCaptionAndRadioItems)
{
    WriteUploadSettings("Upload Method=Automatic");
    auto window = Start();

    struct Step {
        QAction *item;
        const char *caption;
        bool manual;
    };
    for (const Step &s : {Step{window->MnuItmManualUl, "Select Upload Script", true},
                          Step{window->MnuItmManualUl, "Select Upload Script", true},
                          Step{window->MnuItmAutoUl, "Start File Upload", false},
                          Step{window->MnuItmManualUl, "Select Upload Script", true}}) {
        s.item->trigger();
        EXPECT_EQ(Latin1(window->BtnUpload->text()), s.caption);
        EXPECT_EQ(window->MnuItmManualUl->isChecked(), s.manual);
        EXPECT_EQ(window->MnuItmAutoUl->isChecked(), !s.manual);
    }
    // The choice lasts for this run of the program only.
    EXPECT_EQ(IniValue("Upload Settings", "Upload Method"), "Automatic");
}

TEST_F(MainWindowTest, ModesFollowUploadAndPortStates)
{
    auto window = Start();
    TFrmLoadr &w = *window;

    struct Controls {
        bool upload, term, termItem, comSet, rs232, cancel;
    };
    const auto current = [&w] {
        return Controls{w.BtnUpload->isEnabled(),     w.SpdBtnTerm->isEnabled(),
                        w.MnuItmTermWin->isEnabled(), w.SpdBtnComSet->isEnabled(),
                        w.MnuItmRS232->isEnabled(),   w.BtnULCancel->isEnabled()};
    };
    struct Step {
        const char *what;
        std::function<void()> act;
        Controls expected;
    };
    const Step steps[] = {
        {"port failed",
         [&w] { w.SetComBtnState(false); },
         {false, false, false, true, true, false}},
        {"port opened", [&w] { w.SetComBtnState(true); }, {true, true, true, true, true, false}},
        {"run starts",
         [&w] { w.SetUploadBtnState(false); },
         {false, false, false, false, false, true}},
        {"run ends", [&w] { w.SetUploadBtnState(true); }, {true, true, true, true, true, false}},
        {"port failed again",
         [&w] { w.SetComBtnState(false); },
         {false, false, false, true, true, false}},
    };
    const QList<QAction *> untouched = {w.MnuItmExit,   w.MnuItmStatusLght, w.MnuItmManualUl,
                                        w.MnuItmAutoUl, w.HelpTopics1,      w.MnuItmSupport,
                                        w.MnuItmAbout};
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        s.act();
        const Controls c = current();
        const Controls &e = s.expected;
        EXPECT_EQ(c.upload, e.upload);
        EXPECT_EQ(c.term, e.term);
        EXPECT_EQ(c.termItem, e.termItem);
        EXPECT_EQ(c.comSet, e.comSet);
        EXPECT_EQ(c.rs232, e.rs232);
        EXPECT_EQ(c.cancel, e.cancel);
        for (QAction *item : untouched)
            EXPECT_TRUE(item->isEnabled()) << Latin1(item->objectName());
        EXPECT_FALSE(w.MnuItmLogging->isEnabled());
    }
}

TEST_F(MainWindowTest, LinkReportsReachTheEngineAndGaugeThroughTheCallbacks)
{
    auto window = Start();
    loader::TLoaderCallbacks &link = *window;
    struct Case {
        const char *what;
        std::function<void()> report;
        uint8_t state;
        bool timer;
        int gauge;
    };
    // No run is under way here: device errors and drains have no run to end or drive (the
    // engine's own tests cover them during a run); the gauge still follows.
    const Case cases[] = {
        {"script error", [&link] { link.SetScriptError(); }, loader::TUploadEngine::NextLine, false,
         0},
        {"upload error", [&link] { link.SetULError(); }, loader::TUploadEngine::NextLine, false, 0},
        {"transfer drained", [&link] { link.EnableScriptTimer(); }, loader::TUploadEngine::NextLine,
         false, 0},
        {"progress", [&link] { link.SetUploadProgress(42); }, loader::TUploadEngine::NextLine,
         false, 42},
        {"progress overshoot", [&link] { link.SetUploadProgress(250); },
         loader::TUploadEngine::NextLine, false, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        window->Engine->ScriptTimer->stop();
        window->Engine->ScriptState = loader::TUploadEngine::NextLine;
        window->GgeUpload->SetProgress(0);
        c.report();
        EXPECT_EQ(window->Engine->ScriptState, c.state);
        EXPECT_EQ(window->Engine->ScriptTimer->isActive(), c.timer);
        EXPECT_EQ(window->GgeUpload->Progress(), c.gauge);
    }
    window->Engine->ScriptTimer->stop();

    link.SetComBtnState(false);
    EXPECT_FALSE(window->BtnUpload->isEnabled());
}

TEST_F(MainWindowTest, ScriptLinesStartEmptyAtTheFirstShowOnly)
{
    auto window = Start();
    window->Engine->ScriptLines = {"left over"};
    window->show();
    EXPECT_TRUE(window->Engine->ScriptLines.empty());

    window->Engine->ScriptLines = {"_DY 5"};
    window->hide();
    window->show();
    EXPECT_EQ(window->Engine->ScriptLines, std::vector<std::string>{"_DY 5"});
}

TEST_F(MainWindowTest, ExitAsksAndClosesOnlyOnOk)
{
    struct Case {
        MsgResult answer;
        bool stillOpen;
    };
    for (const Case &c : {Case{MsgResult::Cancel, true}, Case{MsgResult::Ok, false}}) {
        boxes.Clear();
        auto window = Start();
        window->show();
        boxes.Answer(c.answer);

        window->MnuItmExit->trigger();

        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, "Exit now ?");
        EXPECT_EQ(boxes.Shown()[0].type, MsgType::Confirm);
        EXPECT_EQ(boxes.Shown()[0].buttons, MsgButtons::OkCancel);
        EXPECT_EQ(window->isVisible(), c.stillOpen);
    }
}

TEST_F(MainWindowTest, ClosingTheWindowOtherwiseDoesNotAsk)
{
    auto window = Start();
    window->show();
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(MainWindowTest, HelpTopicsOpensTheContents)
{
    auto window = Start();
    window->HelpTopics1->trigger();
    EXPECT_EQ(help.Requests(), HelpRequests({{"loader.hlp", platform::HelpFinder, 0}}));
}

void PressF1(QObject *target)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
}

TEST_F(MainWindowTest, F1OnTheWindowOrAControlOpensTheWindowContext)
{
    auto window = Start();
    window->show();
    for (QObject *target :
         {static_cast<QObject *>(window.get()), static_cast<QObject *>(window->BtnUpload)}) {
        help.Clear();
        PressF1(target);
        EXPECT_EQ(help.Requests(),
                  HelpRequests({{"loader.hlp", platform::HelpContext, MainWindowHelpContext}}));
    }
}

TEST_F(MainWindowTest, F1InAMenuOpensTheHighlightedItemsContext)
{
    auto window = Start();
    window->show();
    struct Case {
        QMenu *menu;
        QAction *item;
        int context;
    };
    const Case cases[] = {
        {window->Program1, window->MnuItmTermWin, TerminalHelpContext},
        {window->Configuration1, window->MnuItmRS232, RS232HelpContext},
        {window->Configuration1, window->MnuItmAutoUl, MainWindowHelpContext},
        {window->Help1, window->MnuItmAbout, AboutHelpContext},
        {window->Help1, window->MnuItmSupport, AboutHelpContext},
        // Items without a context of their own, and no highlighted item, use the window's.
        {window->Program1, window->MnuItmExit, MainWindowHelpContext},
        {window->Help1, window->HelpTopics1, MainWindowHelpContext},
        {window->Program1, nullptr, MainWindowHelpContext},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.item ? Latin1(c.item->objectName()) : "no item");
        help.Clear();
        c.menu->setActiveAction(c.item);
        PressF1(c.menu);
        EXPECT_EQ(help.Requests(),
                  HelpRequests({{"loader.hlp", platform::HelpContext, c.context}}));
    }
}

// F1 opens the manual in the program's viewer unless loader.ini asks for the browser; a browser
// that does not start leaves it to the viewer, and a missing manual is reported.
TEST(MainWindowHelpViewer, LoaderIniChoosesTheViewerAndABrokenBrowserFallsBack)
{
    struct Case {
        const char *ini;
        bool browserStarts, manualThere, browserAsked, viewerShown;
    };
    const Case cases[] = {
        {"", true, true, false, true},
        {"[Help]\nViewer=Builtin\n", true, true, false, true},
        {"[Help]\nViewer = browser\n", true, true, true, false},
        {"[Help]\nViewer=Browser\n", false, true, true, true},
        {"", true, false, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        testsupport::TempDir dir;
        dir.Enter();
        dir.Write("loader.ini", c.ini);
        testsupport::ScriptedBoxes boxes;
        std::vector<std::string> asked;
        const auto desktop = platform::SetDesktopOpener([&](const std::string &url) {
            asked.push_back(url);
            return c.browserStarts;
        });
        const auto manual = platform::SetManualPath(c.manualThere ? "" : dir.File("none.html"));
        platform::THelpViewer *viewer = platform::THelpViewer::Instance();
        viewer->hide();
        TFrmLoadr window;
        window.show();
        PressF1(&window);
        platform::SetDesktopOpener(desktop);
        platform::SetManualPath(manual);

        EXPECT_EQ(asked.size(), c.browserAsked ? 1u : 0u);
        for (const std::string &url : asked)
            EXPECT_TRUE(url.ends_with("/loader.html#context-20")) << url;
        EXPECT_EQ(viewer->isVisible(), c.viewerShown);
        EXPECT_EQ(viewer->Browser()->source().fragment(), QStringLiteral("context-20"));
        EXPECT_EQ(boxes.Shown().size(), c.manualThere ? 0u : 1u);
    }
    platform::SetHelpViewerChoice(platform::HelpViewerChoice::Builtin);
    platform::THelpViewer::Instance()->hide();
}

} // namespace
