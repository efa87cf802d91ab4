#pragma once
#include "SimFrame.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;

// A window showing what the simulated board outputs, decoded back to RGB
// by the signal decoders, so what the display under test would get can be
// seen on the desktop. Polls the board on the GUI thread; a new frame
// (a new pattern, or the next flip of a blinking one) is decoded once.
class KelMonitor : public QWidget {
    Q_OBJECT

public:
    // sequence: frames output so far (cheap); frame: copy of the frame now on
    // the output, false before the first one. Both are called on the GUI thread.
    KelMonitor(std::function<uint64_t()> sequence, std::function<bool(SimFrame &)> frame, QWidget *parent = nullptr);

    // The monitor of the board selected with --simulate.
    static std::unique_ptr<KelMonitor> forSimulatedBoard();

    // Decodes a board frame into an 8-bit RGB picture; false (picture left
    // alone) for a layout without a decoder or a frame too short for its size.
    static bool decodeFrame(const SimFrame &frame, QImage &out);

    const QImage &picture() const { return m_picture; }
    uint64_t shownSequence() const { return m_shown; }
    // Polls once (the timer does this every 20 ms).
    void poll();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::function<uint64_t()> m_sequence;
    std::function<bool(SimFrame &)> m_frame;
    SimFrame m_buffer;
    QImage m_picture;
    uint64_t m_shown = 0;
    QTimer *m_timer;
};
