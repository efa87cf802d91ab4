#include "OvCore.h"
#include "QiLog.h"
#include "StdioOutput.h"
#include "TestRaster.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/orvane-plugin-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
};
} // namespace

TEST(Plugins, LoadedFromOwnFoldersRefusedFromRemoteScans)
{
    auto old = swapLogOutput(std::make_unique<StdioOutput>(stdout, false, 1));
    TempDir dir;
    fs::copy_file(fs::path(ORVANE_PLUGIN_DIR) / "OvpSolidPlugin.ovp", dir.path / "Solid.ovp");
    // Case matters for the extension: this one is never loaded.
    fs::copy_file(fs::path(ORVANE_PLUGIN_DIR) / "OvpSolidPlugin.ovp", dir.path / "Upper.OVP");

    TestRaster raster(64, 32, 10);
    OvCore core;
    core.start(&raster, nullptr, {});
    core.scanFolder(dir.path.c_str(), "remote/", false);
    EXPECT_EQ(core.findRenderer("SolidPlugin"), nullptr) << "a remote-style scan loads no code";

    core.scanFolder(dir.path.c_str(), "user/", true);
    OvPatternRenderer *solid = core.findRenderer("solidplugin");
    ASSERT_NE(solid, nullptr);
    EXPECT_EQ(core.renderers().size(), 1u) << "Upper.OVP is no plug-in";

    int32_t id = core.postPattern("SolidPlugin");
    bool result = false;
    core.waitTransaction(id, result);
    core.shutdown();
    EXPECT_EQ(raster.renders, 1);
    const uint32_t half = 940 / 2;
    EXPECT_EQ(raster.pixel(0, 0), raster.pack(half, half, half));
    EXPECT_EQ(raster.pixel(63, 31), raster.pack(half, half, half));
    swapLogOutput(std::move(old));
}
