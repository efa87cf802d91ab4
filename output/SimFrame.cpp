#include "SimFrame.h"

#include "QiLog.h"

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
