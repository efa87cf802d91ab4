#include "KelAbout.h"
#include "KelMain.h"
#include "QiLog.h"
#include "QiOutput.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

// fontconfig keeps its configuration cache for the life of the process.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

// Outside any namespace: the resource initialiser is a global symbol.
static void initResources()
{
    Q_INIT_RESOURCE(orvane);
}

namespace {

QApplication *app()
{
    static int argc = 1;
    static char name[] = "ui_tests";
    static char *argv[] = {name, nullptr};
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication *a = [] {
        initResources();
        if (auto *existing = qobject_cast<QApplication *>(QCoreApplication::instance()))
            return existing;
        return new QApplication(argc, argv);
    }();
    return a;
}

// Records what the tray would post instead of queueing it on an engine.
class RecordingKel : public KelMain {
public:
    using KelMain::KelMain;
    std::vector<QiParams> posted;

protected:
    int32_t postRequest(const QiParams &params) override
    {
        posted.push_back(params);
        return static_cast<int32_t>(posted.size());
    }
};

class CaptureOutput : public QiOutput {
public:
    explicit CaptureOutput(std::string &sink) : QiOutput(6), m_sink(sink) {}
    bool write(const char *bytes, size_t length) override
    {
        m_sink.append(bytes, length);
        return true;
    }

private:
    std::string &m_sink;
};

std::vector<std::string> menuLayout(QMenu *menu)
{
    std::vector<std::string> out;
    for (QAction *a : menu->actions())
        out.push_back(a->isSeparator() ? std::string("--") : a->text().toStdString());
    return out;
}

QAction *findAction(QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

} // namespace

TEST(KelMain, MenuOrderSeparatorsAndControlPanelOption)
{
    app();
    KelMain plain(nullptr, nullptr, false);
    const std::vector<std::string> expected = {"Safe Mode (720p @ YCbCr_10)", "--", "Refresh Current Pattern",
                                               "Nimbra-Test-Card-v", "Colorbars", "--", "About", "--", "&Quit"};
    EXPECT_EQ(menuLayout(plain.contextMenu()), expected);
    EXPECT_EQ(plain.trayIcon()->contextMenu(), plain.contextMenu());
    EXPECT_EQ(plain.windowTitle(), QStringLiteral("Tavora KEL"));
    EXPECT_EQ(plain.trayIcon()->toolTip(), QStringLiteral("Orvane"));
    EXPECT_FALSE(plain.isVisible());
    EXPECT_TRUE(plain.trayIcon()->isVisible());
    EXPECT_FALSE(plain.trayIcon()->icon().isNull());

    KelMain withPanel(nullptr, nullptr, true);
    std::vector<std::string> panelExpected = expected;
    panelExpected.insert(panelExpected.begin() + 6, "Control Panel");
    EXPECT_EQ(menuLayout(withPanel.contextMenu()), panelExpected);
}

TEST(KelMain, EntriesPostTheirRequestTableMaps)
{
    app();
    RecordingKel kel(nullptr, nullptr, false);
    QMenu *menu = kel.contextMenu();

    findAction(menu, QStringLiteral("Colorbars"))->trigger();
    findAction(menu, QStringLiteral("Safe Mode (720p @ YCbCr_10)"))->trigger();
    findAction(menu, QStringLiteral("Refresh Current Pattern"))->trigger();
    findAction(menu, QStringLiteral("Nimbra-Test-Card-v"))->trigger();
    ASSERT_EQ(kel.posted.size(), 4u);
    EXPECT_EQ(kel.posted[0].map(), (QiParams::Map{{"Pattern", "fullfield"}}));
    EXPECT_EQ(kel.posted[1].map(), (QiParams::Map{{"OutputColor", "YCbCr_10"}, {"VideoFormat", "720p 59.94"}}));
    EXPECT_TRUE(kel.posted[2].empty());
    EXPECT_EQ(kel.posted[3].map(), (QiParams::Map{{"Pattern", "Nimbra-Test-Card"}}));
    // The table keeps its maps: posting twice sends the same request again.
    findAction(menu, QStringLiteral("Colorbars"))->trigger();
    ASSERT_EQ(kel.posted.size(), 5u);
    EXPECT_EQ(kel.posted[4], kel.posted[0]);

    // Unknown text: one level-3 line, nothing posted.
    std::string logged;
    auto previous = swapLogOutput(std::make_unique<CaptureOutput>(logged));
    kel.actSetGen(QStringLiteral("About"));
    kel.actSetGen(QString());
    swapLogOutput(std::move(previous));
    EXPECT_EQ(kel.posted.size(), 5u);
    EXPECT_NE(logged.find("KelMain::actSetGen: couldn't find object for About\n"), std::string::npos) << logged;
    EXPECT_NE(logged.find("KelMain::actSetGen: couldn't find object for \n"), std::string::npos) << logged;
    EXPECT_EQ(logged.find("Colorbars"), std::string::npos);

    // Without an engine the real post is a no-op rather than a crash.
    KelMain bare(nullptr, nullptr, false);
    bare.actSetGen(QStringLiteral("Colorbars"));
}

TEST(KelMain, CloseWhileInTrayShowsSystrayMessageAndKeepsRunning)
{
    app();
    KelMain kel(nullptr, nullptr, false);
    kel.show();
    QString title, text;
    bool sawBox = false;
    QTimer::singleShot(50, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box) {
            sawBox = true;
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    EXPECT_FALSE(kel.close()); // the close is ignored
    EXPECT_TRUE(sawBox);
    EXPECT_EQ(title, QStringLiteral("Systray"));
    EXPECT_EQ(text, QStringLiteral("The program will keep running in the system tray. To terminate the program, "
                                   "choose <b>Quit</b> in the context menu of the system tray entry."));
    EXPECT_FALSE(kel.isVisible());

    // With the icon gone the close goes through without a message.
    kel.trayIcon()->hide();
    kel.show();
    EXPECT_TRUE(kel.close());
}

TEST(KelAbout, ArtworkVersionAndAddresses)
{
    app();
    // Both resource spellings the tray uses must resolve.
    const QPixmap icon(QString::fromLatin1(KelMain::kIconPath));
    EXPECT_EQ(icon.size(), QSize(32, 32));
    KelAbout about(QString::fromLatin1(KelMain::kAboutArtPath), QString::fromLatin1(KelMain::kVersion));
    auto *art = about.findChild<QLabel *>(QStringLiteral("Artwork"));
    ASSERT_NE(art, nullptr);
    EXPECT_FALSE(art->pixmap().isNull());
    EXPECT_GE(art->pixmap().width(), 200);
    auto *ver = about.findChild<QLabel *>(QStringLiteral("Version"));
    ASSERT_NE(ver, nullptr);
    EXPECT_EQ(ver->text(), QStringLiteral("Orvane: 1.2.317"));
    auto *list = about.findChild<QPlainTextEdit *>(QStringLiteral("Addresses"));
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->isReadOnly());
    const QStringList addrs = KelAbout::hostAddresses();
    EXPECT_EQ(list->toPlainText(), addrs.join(QLatin1Char('\n')));
    for (const QString &a : addrs)
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$")).match(a).hasMatch()) << a.toStdString();
}
