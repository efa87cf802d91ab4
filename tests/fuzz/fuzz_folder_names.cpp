// Pattern-folder file names: the base[-vres][~frame].ext parser and the
// aliases a folder of such names makes. The input is a list of file names
// (split at '/' and NUL, which no file name holds).
//
// A name parses to the same parts once its parts are written back in the
// convention; the alias of every base lists each resolution once, in order,
// with its frames; and what the aliases hold grows with the names given,
// never with the numbers written in them.
#include "FolderScanner.h"
#include "FuzzClock.h"

#include "QiLog.h"
#include "QiOutput.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

class Discard : public QiOutput {
public:
    bool write(const char *, size_t) override { return true; }
};

[[noreturn]] void fail(const char *what, const std::string &name)
{
    std::fprintf(stderr, "%s: '%s'\n", what, name.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool quiet = (swapLogOutput(std::make_unique<Discard>()), true);
    (void)quiet;
    const double t0 = fuzzclock::now();
    std::vector<std::string> names;
    std::string cur;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == '/' || data[i] == 0) {
            if (!cur.empty() && cur != "." && cur != "..")
                names.push_back(cur);
            cur.clear();
        } else {
            cur += static_cast<char>(data[i]);
        }
    }

    FolderScanner scanner(nullptr, "/folder", "user/");
    std::set<std::string> bases;
    for (const std::string &name : names) {
        std::string base;
        uint32_t vres = 1, frame = 1;
        FolderScanner::parseName(name, base, vres, frame);
        if (name.compare(0, base.size(), base) != 0)
            fail("the base is not where the name starts", name);
        if (vres != 0 && vres < 480)
            fail("a resolution below 480 was kept", name);
        // Both parts written, zeros too: the base may itself hold a '~', or a
        // '-' before a digit (only the last of each is cut).
        std::string again = base + "-" + std::to_string(vres) + "~" + std::to_string(frame);

        again += ".png";
        std::string base2;
        uint32_t vres2 = 1, frame2 = 1;
        FolderScanner::parseName(again, base2, vres2, frame2);
        if (base2 != base || vres2 != vres || frame2 != frame)
            fail("the parts written back parse differently", name);
        scanner.processFile(name);
        bases.insert(base);
    }

    size_t keys = 0;
    for (const std::string &base : bases) {
        const QiParams p = scanner.aliasParams(base);
        if (p.empty())
            continue; // every file of it was refused
        keys += p.size();
        int32_t n = -1;
        p.getInt("nVres", n);
        int32_t previous = -1;
        for (int32_t i = 0; i < n; ++i) {
            int32_t vres = -1, frames = -1;
            if (!p.getInt("vres" + std::to_string(i), vres) || vres <= previous)
                fail("resolutions not listed once each in ascending order", base);
            previous = vres;
            if (!p.getInt("nF" + std::to_string(vres), frames) || frames < 1)
                fail("a resolution without frames", base);
            const char *last = nullptr;
            if (!p.get("r" + std::to_string(vres) + "-f" + std::to_string(frames - 1), last) || !*last)
                fail("the highest frame has no file", base);
        }
        if (p.size() != 4u + 1u + static_cast<size_t>(n) * 1u + [&] {
                size_t frameKeys = 0;
                for (int32_t i = 0; i < n; ++i) {
                    int32_t vres = 0, frames = 0;
                    p.getInt("vres" + std::to_string(i), vres);
                    p.getInt("nF" + std::to_string(vres), frames);
                    frameKeys += 1 + static_cast<size_t>(frames);
                }
                return frameKeys;
            }())
            fail("the alias holds keys beyond its resolutions and frames", base);
    }
    // Five fixed keys per base and two per resolution (at most seven per
    // name); frame keys one per name plus the missing positions a scan
    // allows.
    if (keys > 8 * names.size() + 10000)
        fail("the aliases outgrow the names", std::to_string(keys) + " keys");
    const double took = fuzzclock::now() - t0;
    if (took > 2.0 + 50e-6 * static_cast<double>(size))
        fail("too slow", std::to_string(took));
    return 0;
}
