#include "SimFrame.h"

#include <cstdio>
#include <cstdlib>

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

bool writeReplacing(const std::string &path, const void *bytes, size_t size)
{
    std::string temp = path + ".tmp";
    FILE *f = std::fopen(temp.c_str(), "wb");
    if (!f)
        return false;
    bool ok = (size == 0 || std::fwrite(bytes, 1, size, f) == size);
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
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
    std::snprintf(numbers, sizeof numbers, "\"sequence\": %llu}", static_cast<unsigned long long>(frame.sequence));
    return out + numbers;
}

bool writeSimCapture(const std::string &folder, const char *board, const SimFrame &frame)
{
    std::string base = folder + "/" + board + "-out";
    // The raw frame first: a reader that sees the new description finds
    // the bytes it describes.
    if (!writeReplacing(base + ".raw", frame.bytes.data(), frame.bytes.size()))
        return false;
    std::string json = simFrameJson(frame) + "\n";
    return writeReplacing(base + ".json", json.data(), json.size());
}

std::string simCaptureFolderFromEnvironment()
{
    const char *folder = std::getenv("ORVANE_SIM_CAPTURE");
    return folder ? folder : "";
}
