// orvane-render: renders one request through the real path (engine and
// KonaRaster on the simulated board) and writes the result to files.
#include "KonaRaster.h"
#include "OvBuiltins.h"
#include "OvCore.h"
#include "QiAscii.h"
#include "QiLog.h"
#include "SimBoards.h"
#include "SimFrame.h"

#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: orvane-render [-o FILE]... [--repeat N] [--data-dir DIR] KEY=VALUE...\n"
    "\n"
    "Renders one request through the generator's engine on a simulated AJA Kona\n"
    "board and writes the result. The KEY=VALUE pairs form the request, e.g.\n"
    "  orvane-render -o bars.png Pattern=Colorbars Style=fullfield\n"
    "  orvane-render -o w.ovi Pattern=Window Size=10 VideoFormat=\"1080p 23.98\" OutputTitling=true\n"
    "  orvane-render -o pq.raw Pattern=fullfield TransferFunction=PQ Colorimetry=BT.2020\n"
    "\n"
    "Options:\n"
    "  -o FILE        write the result; the extension chooses what is written:\n"
    "                   .ovi  the frame buffer words exactly\n"
    "                   .png  a PNG snapshot of the frame buffer\n"
    "                   .raw  the encoded frame as the board received it, with\n"
    "                         its description in FILE's name + .json (width,\n"
    "                         height, rowBytes, layout, videoFormat, sequence,\n"
    "                         and the signal: sdiVpid, signal, hdrMetadata,\n"
    "                         hdmiInfoframe)\n"
    "                 may be given more than once\n"
    "  --repeat N     render the same request N times (timing: the engine logs\n"
    "                 \"pattern rendered ... in time\" for each)\n"
    "  --data-dir DIR the data folder (default: ovdata beside this program)\n"
    "  --help         this text\n"
    "\n"
    "The board starts as ORVANE_SIM_KONA says (videoformat=N,fbf=N; default\n"
    "1080p 60.00 level A, 10-bit YCbCr). The engine's log goes to standard output.\n"
    "The data folder's ImageFiles are scanned by the engine itself, when the\n"
    "image-file pattern registers, exactly as in the program.\n"
    "Exit status 1 for a request without Pattern, an unknown pattern, a video\n"
    "format the board does not list, or a file that cannot be written; 2 for\n"
    "usage errors.\n";

std::string programFolder()
{
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string path(buf.data(), static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool endsWith(const std::string &s, const char *suffix)
{
    size_t n = strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool writeRaw(const std::string &path)
{
    SimFrame frame;
    if (!SimBoards::outputFrame(frame)) {
        fprintf(stderr, "orvane-render: the board output no frame\n");
        return false;
    }
    std::string json = path;
    size_t dot = json.rfind('.');
    json = (dot == std::string::npos ? json : json.substr(0, dot)) + ".json";
    std::ofstream raw(path, std::ios::binary), desc(json);
    raw.write(reinterpret_cast<const char *>(frame.bytes.data()), static_cast<std::streamsize>(frame.bytes.size()));
    desc << simFrameJson(frame) << "\n";
    return raw.good() && desc.good();
}

} // namespace

int main(int argc, char **argv)
{
    // The user's locale, as the program has it through Qt: what the engine
    // reads and writes must not depend on it.
    std::setlocale(LC_ALL, "");
    std::vector<std::string> outputs;
    std::string dataDir;
    long repeat = 1;
    QiParams request;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            fputs(kUsage, stdout);
            return 0;
        } else if (a == "-o" && i + 1 < argc) {
            outputs.push_back(argv[++i]);
        } else if (a == "--repeat" && i + 1 < argc) {
            const char *n = argv[++i];
            const char *end = n + std::strlen(n);
            auto r = std::from_chars(n, end, repeat);
            if (r.ec != std::errc() || r.ptr != end || repeat < 1 || repeat > 100000) {
                fprintf(stderr, "orvane-render: --repeat wants a count from 1 to 100000\n");
                return 2;
            }
        } else if (a == "--data-dir" && i + 1 < argc) {
            dataDir = argv[++i];
        } else if (a.find('=') != std::string::npos && a[0] != '-') {
            size_t eq = a.find('=');
            request.set(a.substr(0, eq), a.substr(eq + 1));
        } else {
            fprintf(stderr, "orvane-render: unexpected argument '%s'\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    for (const std::string &o : outputs) {
        if (!endsWith(o, ".ovi") && !endsWith(o, ".png") && !endsWith(o, ".raw")) {
            fprintf(stderr, "orvane-render: %s: the output name must end in .ovi, .png or .raw\n", o.c_str());
            return 2;
        }
    }
    if (dataDir.empty())
        dataDir = programFolder() + "/ovdata";

    SimBoards::selectKona();
    KonaRaster raster;
    if (!raster.init()) {
        fprintf(stderr, "orvane-render: the simulated Kona board did not initialise\n");
        return 1;
    }
    // The engine scans the data folder's ImageFiles when the image-file
    // pattern registers (as in the program); the tool does not scan it again.
    OvCore core;
    core.start(&raster, dataDir.c_str(), ovBuiltinRenderers());

    int status = 0;
    const char *pattern = nullptr;
    const char *format = nullptr;
    if (!request.get("Pattern", pattern)) {
        // Without a pattern nothing would be drawn: an empty frame is no result.
        fprintf(stderr, "orvane-render: the request names no pattern (Pattern=NAME)\n");
        status = 1;
    } else {
        QiParams known;
        core.listPatterns(known);
        if (!core.findRenderer(pattern) && !known.has(pattern)) {
            fprintf(stderr, "orvane-render: unknown pattern '%s'\n", pattern);
            status = 1;
        }
    }
    // "toggle" in any case steps to the next format, as the engine reads it.
    if (status == 0 && request.get("VideoFormat", format) && !qiEqualsIgnoreCase(format, "toggle")) {
        std::vector<std::string> names;
        int32_t def;
        raster.getFormatList(names, def);
        bool found = false;
        for (const std::string &n : names)
            found = found || qiEqualsIgnoreCase(n, format);
        if (!found) {
            fprintf(stderr, "orvane-render: the board lists no video format '%s'\n", format);
            status = 1;
        }
    }

    if (status == 0) {
        // As at program start, a first request lets the engine adopt the
        // format the board is already running, so the user's "VideoFormat"
        // is compared with the real one.
        int32_t id = core.post(QiParams());
        bool result;
        core.waitTransaction(id, result);
    }
    for (long i = 0; status == 0 && i < repeat; ++i) {
        // With one caller waiting, a refused wait means the request is done.
        int32_t id = core.post(request);
        bool result;
        core.waitTransaction(id, result);
    }
    core.shutdown();

    for (const std::string &o : outputs) {
        if (status != 0)
            break;
        bool ok = false;
        if (endsWith(o, ".ovi"))
            ok = raster.saveOvi(o.c_str());
        else if (endsWith(o, ".png"))
            ok = raster.savePng(o.c_str());
        else
            ok = writeRaw(o);
        if (!ok) {
            fprintf(stderr, "orvane-render: could not write %s\n", o.c_str());
            status = 1;
        }
    }
    fflush(stdout);
    return status;
}
