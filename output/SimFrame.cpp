#include "SimFrame.h"

#include "QiLog.h"

#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string jsonString(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

bool writeReplacing(const std::string &path, const void *bytes, size_t size, std::string *error)
{
    std::string temp = path + ".tmp";
    auto fail = [&](const std::string &file) {
        if (error)
            *error = file + ": " + std::strerror(errno);
        return false;
    };
    FILE *f = std::fopen(temp.c_str(), "wb");
    if (!f)
        return fail(temp);
    bool ok = (size == 0 || std::fwrite(bytes, 1, size, f) == size);
    int saved = errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        std::remove(temp.c_str());
        errno = saved;
        return fail(temp);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        saved = errno;
        std::remove(temp.c_str());
        errno = saved;
        return fail(path);
    }
    return true;
}

// Shortest text that reads back as the same double, as in the C locale.
std::string jsonNumber(double v)
{
    char text[32];
    auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

std::string hex32(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "\"0x%08X\"", v);
    return text;
}

std::string xy(uint16_t x, uint16_t y)
{
    return "[" + jsonNumber(x / 50000.0) + ", " + jsonNumber(y / 50000.0) + "]";
}

std::string signalJson(const SimSignal &s)
{
    std::string out = "\"sdiVpid\": [";
    for (size_t i = 0; i < s.sdiVpid.size(); ++i) {
        if (i)
            out += ", ";
        out += "{\"output\": " + std::to_string(s.sdiVpid[i].output) + ", \"a\": " + hex32(s.sdiVpid[i].a) +
               ", \"b\": " + hex32(s.sdiVpid[i].b) + "}";
    }
    out += "], \"signal\": {\"eotf\": " + jsonString(qiEotfName(s.eotf)) +
           ", \"colorimetry\": " + jsonString(qiColorimetryName(s.colorimetry)) +
           ", \"range\": " + jsonString(s.fullRange ? "full" : "narrow") +
           ", \"bitDepth\": " + std::to_string(s.bitDepth) + "}, \"hdrMetadata\": {\"present\": ";
    if (!s.hdrPresent) {
        out += "false}";
    } else {
        const QiHdrFields &h = s.hdr;
        const char *eotf = h.eotf == 2 ? "PQ" : h.eotf == 3 ? "HLG" : h.eotf == 1 ? "HDR" : "SDR";
        out += "true, \"eotf\": " + jsonString(eotf) + ", \"primaries\": {\"red\": " +
               xy(h.primaries[2][0], h.primaries[2][1]) + ", \"green\": " + xy(h.primaries[0][0], h.primaries[0][1]) +
               ", \"blue\": " + xy(h.primaries[1][0], h.primaries[1][1]) +
               "}, \"whitePoint\": " + xy(h.white[0], h.white[1]) +
               ", \"maxMasteringLuminance\": " + std::to_string(h.maxLuminance) +
               ", \"minMasteringLuminance\": " + jsonNumber(h.minLuminance / 10000.0) +
               ", \"maxCLL\": " + std::to_string(h.maxCll) + ", \"maxFALL\": " + std::to_string(h.maxFall) + "}";
    }
    out += ", \"hdmiInfoframe\": ";
    if (!s.infoframe)
        return out + "null";
    out += "\"";
    QiHdrInfoframe f = qiHdrInfoframe(s.hdr);
    for (size_t i = 0; i < f.size(); ++i) {
        char b[4];
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", f[i]);
        out += b;
    }
    return out + "\"";
}

} // namespace

std::string simFrameJson(const SimFrame &frame)
{
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "{\"width\": %d, \"height\": %d, \"rowBytes\": %u, ", frame.width,
                  frame.height, frame.rowBytes);
    std::string out = numbers;
    out += "\"layout\": " + jsonString(frame.layout) + ", ";
    out += "\"videoFormat\": " + jsonString(frame.videoFormat) + ", ";
    std::snprintf(numbers, sizeof numbers, "\"sequence\": %llu, ", static_cast<unsigned long long>(frame.sequence));
    return out + numbers + signalJson(frame.signal) + "}";
}

bool writeSimCapture(const std::string &folder, const char *board, const SimFrame &frame, const uint8_t *bytes,
                     size_t size, std::string *error)
{
    std::string base = folder + "/" + board + "-out";
    // The raw frame first: a reader that sees the new description finds
    // the bytes it describes.
    if (!writeReplacing(base + ".raw", bytes, size, error))
        return false;
    std::string json = simFrameJson(frame) + "\n";
    return writeReplacing(base + ".json", json.data(), json.size(), error);
}

bool writeSimCapture(const std::string &folder, const char *board, const SimFrame &frame, std::string *error)
{
    return writeSimCapture(folder, board, frame, frame.bytes.data(), frame.bytes.size(), error);
}

bool writeSimCaptureLogged(const std::string &folder, const char *board, const SimFrame &frame,
                           const uint8_t *bytes, size_t size, std::string &lastError)
{
    std::string error;
    if (writeSimCapture(folder, board, frame, bytes, size, &error)) {
        lastError.clear();
        return true;
    }
    // Every frame would fail the same way: one line per failure, not per frame.
    if (error != lastError)
        qiLog(1, "%s: cannot write the capture of frame %llu: %s\n", board,
              static_cast<unsigned long long>(frame.sequence), error.c_str());
    lastError = error;
    return false;
}

bool writeSimCaptureLogged(const std::string &folder, const char *board, const SimFrame &frame,
                           std::string &lastError)
{
    return writeSimCaptureLogged(folder, board, frame, frame.bytes.data(), frame.bytes.size(), lastError);
}

std::string simCaptureFolderFromEnvironment()
{
    const char *folder = std::getenv("ORVANE_SIM_CAPTURE");
    return folder ? folder : "";
}
