// A generator's remote interface for independent clients: a real engine on
// the simulated Kona board with the built-in and test renderers, and the real method
// holder on a free loopback port. Prints "PORT <n>" and "GATEWARE <text>",
// then serves until its standard input closes.
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvcXmlPrivates.h"
#include "QiLog.h"
#include "RemoteTestEngine.h"
#include "SimBoards.h"
#include "StdioOutput.h"

#include <cstdio>
#include <unistd.h>

int main()
{
    // The log goes to stderr so stdout carries only the lines above.
    swapLogOutput(std::make_unique<StdioOutput>(stderr, false, 6));
    SimBoards::selectKona();
    KonaRaster raster;
    if (!raster.init()) {
        fprintf(stderr, "no simulated Kona board\n");
        return 1;
    }
    std::string gateware = raster.gatewareVersion();
    OvCore core;
    std::vector<OvRendererFactory> renderers = ovBuiltinRenderers();
    renderers.push_back(remotetest::makeTestBars);
    renderers.push_back(remotetest::makePlain);
    core.start(&raster, nullptr, renderers);
    int rc = 0;
    {
        OvcXmlPrivates holder(&core);
        if (holder.start(0, "127.0.0.1")) {
            printf("PORT %d\nGATEWARE %s\n", holder.port(), gateware.c_str());
            fflush(stdout);
            char buf[256];
            while (read(0, buf, sizeof buf) > 0) {
            }
        } else {
            fprintf(stderr, "could not listen\n");
            rc = 1;
        }
        holder.shutdown();
    }
    core.shutdown();
    return rc;
}
