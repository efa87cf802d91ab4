// The tray application under a real X server (Xvfb) with a tray host
// (trayer), driven the way a person would: right-click, arrow keys, Return.
// Screenshots are kept in the build folder as artifacts.
#include "ProcessHarness.h"

using namespace harness;

namespace {

const std::string kOrvane = ORVANE_BIN;
const std::string kShots = ORVANE_SHOTS;

Env trayEnv(const TempDir &dir, const XSession &x)
{
    Env env;
    env.set("ORVANE_SIM_CAPTURE", dir.path).set("HOME", dir.path).unset("USERPROFILE");
    env.unset("ORVANE_SIM_KONA").unset("ORVANE_SIM_DECKLINK").unset("WAYLAND_DISPLAY");
    env.set("DISPLAY", x.display).set("QT_QPA_PLATFORM", "xcb");
    // No session bus: Qt falls back to the XEmbed tray that trayer hosts.
    env.unset("DBUS_SESSION_BUS_ADDRESS");
    return env;
}

// True when a screenshot shows the menu below and right of the icon (the
// root window there is black).
bool menuOpen(XSession &x, const std::string &dir)
{
    const std::string shot = dir + "/menu-probe.png";
    if (!x.screenshot(shot))
        return false;
    const std::string px = shell("convert '" + shot + "' -format '%[fx:p{100,60}.r+p{100,60}.g+p{100,60}.b]' info: 2>/dev/null");
    return !px.empty() && std::atof(px.c_str()) > 0.5;
}

// Right-clicks the tray icon (at the left end of the tray bar at the top of
// the screen) until its menu is open.
bool openMenu(XSession &x, const std::string &dir)
{
    for (int attempt = 0; attempt < 6; ++attempt) {
        // A click on the bare root window first: Qt swallows the click that
        // follows a popup's closing on the widget that opened it.
        x.x("xdotool mousemove 600 600 click 1");
        std::this_thread::sleep_for(100ms);
        x.x("xdotool mousemove 16 16 click 3");
        for (int i = 0; i < 10; ++i) {
            std::this_thread::sleep_for(150ms);
            if (menuOpen(x, dir))
                return true;
        }
        x.x("xdotool key Escape");
    }
    return false;
}

// Picks menu entry n (1-based; the keyboard skips separators) with Down n
// times and Return.
void pickEntry(XSession &x, const std::string &dir, int n)
{
    ASSERT_TRUE(openMenu(x, dir));
    // Let the popup take the keyboard before typing.
    std::this_thread::sleep_for(300ms);
    std::string keys;
    for (int i = 0; i < n; ++i)
        keys += " Down";
    x.x("xdotool key --delay 60" + keys + " Return");
}

// Picks entry n until cond holds: a loaded X server may drop keys, and a
// person would simply choose the entry again. Every entry used here may be
// chosen twice without harm.
template <class Cond>
bool pickUntil(XSession &x, const std::string &dir, int n, Cond cond)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        pickEntry(x, dir, n);
        if (cond())
            return true;
    }
    return false;
}

bool waitIconShown(XSession &x, const std::string &shot)
{
    // The icon is drawn into the tray: its pixels differ from the tray's tint.
    for (int i = 0; i < 100; ++i) {
        if (x.screenshot(shot)) {
            const std::string px = shell("convert '" + shot + "' -crop 24x24+4+4 -format '%[fx:standard_deviation]' info: 2>/dev/null");
            if (!px.empty() && std::atof(px.c_str()) > 0.05)
                return true;
        }
        std::this_thread::sleep_for(150ms);
    }
    return false;
}

} // namespace

TEST(OrvaneTray, MenuDrivesTheGeneratorAndQuitEndsCleanly)
{
    TempDir dir;
    XSession x(dir.path, true);
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(x.trayOwned());
    const int port = freePort(), disc = freePort(), web = freePort();
    Process gen({kOrvane, "--simulate", "kona", "--port", std::to_string(port), "--discovery-port",
                 std::to_string(disc), "--web", std::to_string(web)},
                trayEnv(dir, x), dir.path + "/gen");
    Capture c;
    std::string why;
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return k.sequence >= 1; }))
        << gen.out() << gen.err();
    EXPECT_FALSE(rowHasBars(c, c.height * 9 / 10)); // SMPTE first
    ASSERT_TRUE(waitIconShown(x, kShots + "/tray.png")) << gen.err();

    // The menu, kept as a picture.
    ASSERT_TRUE(openMenu(x, dir.path));
    x.screenshot(kShots + "/tray-menu.png");
    x.x("xdotool key Escape");
    std::this_thread::sleep_for(300ms);

    // Entry 4, "Colorbars": full-field bars, down to the bottom row.
    ASSERT_TRUE(pickUntil(x, dir.path, 4, [&] {
        return waitCapture(dir.path, "kona", c, [](const Capture &k) { return rowHasBars(k, k.height * 9 / 10); }, 6s);
    })) << gen.out();

    // Entry 1, safe mode: 720p 59.94, the output colour left as it was.
    ASSERT_TRUE(pickUntil(x, dir.path, 1, [&] {
        return waitCapture(dir.path, "kona", c, [](const Capture &k) { return k.width == 1280; }, 6s);
    })) << gen.out();
    EXPECT_EQ(c.videoFormat, "720p 59.94");
    EXPECT_EQ(c.layout, "v210");
    EXPECT_TRUE(rowHasBars(c, c.height * 9 / 10, &why)) << why;

    // Entry 2, refresh: the same picture is rendered and output again.
    const long long before = c.sequence;
    const std::string bytes = c.bytes;
    ASSERT_TRUE(pickUntil(x, dir.path, 2, [&] {
        return waitCapture(dir.path, "kona", c, [&](const Capture &k) { return k.sequence > before; }, 6s);
    }));
    EXPECT_EQ(c.bytes, bytes);

    // The web page's endpoints drive the tray application's engine too.
    const std::string answer = shell(
        "timeout 20 python3 -c \"import urllib.request as u; print(u.urlopen(u.Request("
        "'http://127.0.0.1:" + std::to_string(web) + "/api/window?wait=1', data=b'{\\\"size\\\": \\\"100%\\\", "
        "\\\"level\\\": 16}', method='POST')).read().decode())\" 2>&1");
    EXPECT_NE(answer.find("\"waited\":true"), std::string::npos) << answer;
    EXPECT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return v210Pixel(k, 640, 360).y == 940; }))
        << answer;

    // Entry 5, About: the box with the artwork, version and addresses.
    std::string about;
    ASSERT_TRUE(pickUntil(x, dir.path, 5, [&] { return !(about = x.waitWindow("^About$", 6s)).empty(); }));
    std::this_thread::sleep_for(500ms);
    x.screenshot(kShots + "/about.png", about);
    x.x("xdotool key --window " + about + " Escape 2>/dev/null");
    x.x("xdotool windowactivate --sync " + about + " key Escape 2>/dev/null");
    for (int i = 0; i < 50 && !x.findWindow("^About$").empty(); ++i)
        std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(x.findWindow("^About$").empty());

    // Entry 6, Quit: status 0 and the shutdown in order. A loaded X server
    // may drop the first keys after a modal dialog; try as a person would.
    std::optional<int> status;
    for (int attempt = 0; attempt < 3 && !status; ++attempt) {
        pickEntry(x, dir.path, 6);
        status = gen.wait(5s);
    }
    ASSERT_EQ(status, 0) << gen.out() << gen.err();
    const std::string log = gen.out();
    const size_t xml = log.find("stopping the XML-RPC server");
    const size_t tray = log.find("tray closed");
    const size_t eng = log.find("engine shut down");
    ASSERT_NE(xml, std::string::npos) << log;
    ASSERT_NE(tray, std::string::npos) << log;
    ASSERT_NE(eng, std::string::npos) << log;
    EXPECT_LT(xml, tray);
    EXPECT_LT(tray, eng);
}

TEST(OrvaneTray, TestCardEntryShowsTheNimbraCard)
{
    TempDir dir;
    XSession x(dir.path, true);
    ASSERT_TRUE(x.ok());
    const int port = freePort(), disc = freePort(), web = freePort();
    Process gen({kOrvane, "--simulate", "kona", "--port", std::to_string(port), "--discovery-port",
                 std::to_string(disc), "--web", std::to_string(web)},
                trayEnv(dir, x), dir.path + "/gen");
    Capture c;
    ASSERT_TRUE(waitCapture(dir.path, "kona", c, [](const Capture &k) { return k.sequence >= 1; })) << gen.err();
    // The alias comes from the image-file pattern's scan of ovdata/ImageFiles.
    const std::string list = pyXmlRpc(port, "PatternOption()");
    ASSERT_NE(list.find("'Nimbra-Test-Card': 'Alias/ImageFile'"), std::string::npos) << list.substr(0, 400);
    ASSERT_TRUE(waitIconShown(x, dir.path + "/tray.png"));
    // The card's eleven grey steps (design row 252 of 1080) rise left to right.
    auto stepsRise = [](const Capture &k) {
        if (k.layout != "v210" || k.height != 1080)
            return false;
        int prev = -1;
        for (int i = 0; i <= 10; ++i) {
            const int xs = static_cast<int>((360 + (i + 0.5) * 1200 / 11) * k.width / 1920);
            const int y = v210Pixel(k, xs, 252).y;
            if (y <= prev)
                return false;
            prev = y;
        }
        return true;
    };
    ASSERT_TRUE(pickUntil(x, dir.path, 3, [&] { return waitCapture(dir.path, "kona", c, stepsRise, 6s); }))
        << gen.out();
    gen.signal(SIGTERM);
    ASSERT_EQ(gen.wait(5s), 0);
}

TEST(OrvaneTray, ControlPanelEntryOnlyWithTheOption)
{
    TempDir dir;
    XSession x(dir.path, true);
    ASSERT_TRUE(x.ok());
    const int port = freePort(), disc = freePort(), reply = freePort();
    // The panel listens for discovery answers on the reply port, not on 3530.
    Process gen({kOrvane, "--simulate", "kona", "--control-panel", "--port", std::to_string(port),
                 "--discovery-port", std::to_string(disc), "--discovery-reply-port", std::to_string(reply)},
                trayEnv(dir, x), dir.path + "/gen");
    ASSERT_TRUE(waitIconShown(x, dir.path + "/tray.png")) << gen.err();
    ASSERT_TRUE(openMenu(x, dir.path));
    x.screenshot(kShots + "/tray-menu-control-panel.png");
    x.x("xdotool key Escape");
    std::this_thread::sleep_for(300ms);
    // Entry 5 is now "Control Panel", About moves to 6.
    std::string panel;
    ASSERT_TRUE(pickUntil(x, dir.path, 5, [&] { return !(panel = x.waitWindow("^Control Panel$", 6s)).empty(); }));
    // The real panel on this generator's engine: its "Patterns" button (the
    // last of the four page buttons, in the second row) opens the patterns
    // page on the pattern shown, which it names on the standard output.
    const std::string geo = x.x("xdotool getwindowgeometry --shell " + panel);
    std::smatch m;
    int wx = 0, wy = 0, ww = 0;
    if (std::regex_search(geo, m, std::regex("X=(\\d+)\\s+Y=(\\d+)\\s+WIDTH=(\\d+)"))) {
        wx = std::stoi(m[1]);
        wy = std::stoi(m[2]);
        ww = std::stoi(m[3]);
    }
    ASSERT_GE(ww, 600) << geo;
    bool opened = false;
    for (int attempt = 0; attempt < 5 && !opened; ++attempt) {
        x.x("xdotool mousemove " + std::to_string(wx + ww * 7 / 8) + " " + std::to_string(wy + 51) + " click 1");
        const auto end = Clock::now() + 3s;
        while (Clock::now() < end && !(opened = gen.out().find("current pattern is Colorbars") != std::string::npos))
            std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(opened) << gen.out();
    std::this_thread::sleep_for(300ms);
    x.screenshot(kShots + "/tray-control-panel.png", panel);
    // Closing the panel does not end the program.
    x.x("xdotool windowclose " + panel + " 2>/dev/null");
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(gen.running());
    ASSERT_TRUE(pickUntil(x, dir.path, 7, [&] { return gen.wait(5s).has_value(); }));
    ASSERT_EQ(gen.wait(1s), 0) << gen.err();
}

TEST(OrvaneTray, WithoutATrayHostTheCriticalMessageEndsWithStatusOne)
{
    TempDir dir;
    XSession x(dir.path, false);
    ASSERT_TRUE(x.ok());
    Process gen({kOrvane, "--simulate", "kona", "--port", std::to_string(freePort()), "--discovery-port",
                 std::to_string(freePort())},
                trayEnv(dir, x), dir.path + "/gen");
    const std::string box = x.waitWindow("^Orvane$");
    ASSERT_FALSE(box.empty()) << gen.err();
    std::this_thread::sleep_for(500ms);
    x.screenshot(kShots + "/no-tray.png", box);
    EXPECT_TRUE(gen.running());
    // Nothing else has been created: no engine, no capture.
    EXPECT_FALSE(fileExists(dir.path + "/kona-out.json"));
    x.x("xdotool windowactivate --sync " + box + " key Return 2>/dev/null");
    x.x("xdotool key --window " + box + " Return 2>/dev/null");
    ASSERT_EQ(gen.wait(10s), 1) << gen.err();
}

TEST(OrvaneTray, WithoutACardTheMessageEndsWithStatusOneAndNoIcon)
{
    TempDir dir;
    XSession x(dir.path, true);
    ASSERT_TRUE(x.ok());
    Process gen({kOrvane, "--port", std::to_string(freePort()), "--discovery-port", std::to_string(freePort())},
                trayEnv(dir, x), dir.path + "/gen");
    const std::string box = x.waitWindow("^Orvane$");
    ASSERT_FALSE(box.empty()) << gen.err();
    std::this_thread::sleep_for(500ms);
    x.screenshot(kShots + "/no-card.png", box);
    // The tray stays empty: the icon is never created.
    x.screenshot(dir.path + "/tray.png");
    const std::string sd = shell("convert '" + dir.path +
                                 "/tray.png' -crop 24x24+4+4 -format '%[fx:standard_deviation]' info: 2>/dev/null");
    EXPECT_LT(std::atof(sd.c_str()), 0.05) << sd;
    x.x("xdotool windowactivate --sync " + box + " key Return 2>/dev/null");
    x.x("xdotool key --window " + box + " Return 2>/dev/null");
    ASSERT_EQ(gen.wait(10s), 1) << gen.err();
    EXPECT_EQ(gen.out().find("using KonaRaster()"), std::string::npos);
}

TEST(OrvaneTray, MonitorShowsTheBoardOutput)
{
    TempDir dir;
    XSession x(dir.path, true);
    ASSERT_TRUE(x.ok());
    const int port = freePort(), disc = freePort();
    Process gen({kOrvane, "--simulate", "kona", "--monitor", "--port", std::to_string(port), "--discovery-port",
                 std::to_string(disc)},
                trayEnv(dir, x), dir.path + "/gen");
    const std::string win = x.waitWindow("1080p 60.*v210");
    ASSERT_FALSE(win.empty()) << gen.err();
    // The bars come through the decoder: the left bar is 75% grey, the
    // right one 75% blue, measured in the window's own picture (retried
    // while a loaded machine is still painting it).
    auto rgb = [&](const std::string &x) {
        return shell("convert '" + kShots + "/monitor.png' -format '%[fx:int(255*p{" + x + ",60}.r+0.5)] %[fx:int(255*p{" +
                     x + ",60}.g+0.5)] %[fx:int(255*p{" + x + ",60}.b+0.5)]' info:");
    };
    std::string left, right;
    bool barsSeen = false;
    for (int i = 0; i < 40 && !barsSeen; ++i) {
        std::this_thread::sleep_for(250ms);
        if (!x.screenshot(kShots + "/monitor.png", win))
            continue;
        int r = -1, g = -1, b = -1, r2 = -1, g2 = -1, b2 = -1;
        left = rgb("20");
        right = rgb("w-20");
        barsSeen = std::sscanf(left.c_str(), "%d %d %d", &r, &g, &b) == 3 &&
                   std::sscanf(right.c_str(), "%d %d %d", &r2, &g2, &b2) == 3 && std::abs(r - 191) <= 3 &&
                   std::abs(g - 191) <= 3 && std::abs(b - 191) <= 3 && r2 <= 3 && g2 <= 3 &&
                   std::abs(b2 - 191) <= 3;
    }
    EXPECT_TRUE(barsSeen) << "left " << left << " right " << right;
    gen.signal(SIGTERM);
    ASSERT_EQ(gen.wait(5s), 0);
}
